#!/bin/sh
# Installs what the build, the tests and the demo need on Debian 12, and does nothing when
# all of it is there.
#
# The 32-bit Wine packages are asked for only where the kernel runs 32-bit programs
# (scripts/runs-32bit) and VELMORA_NO_32BIT is not 1, and only after everything else is in:
# with the i386 architecture added, one unreadable i386 index can keep even the amd64
# packages from installing. When they can't be had, the i386 architecture is taken away
# again and the set-up goes on; the suites then run the 64-bit build and say why.
#
# Where the host's 32-bit Wine can't be had (a kernel without IA32 emulation, or
# wine32:i386 not installable), an i386 root of the project's own is made instead
# (scripts/root32): entered by chroot where the kernel runs i386 programs, else in a small
# virtual machine, whose packages are installed here too (not with VELMORA_NO_VM=1). It is
# made once per machine and kept. A root that can't be made is said in one line; the
# 32-bit suite then can't run. With VELMORA_ROOT32_LATER=1 the root is left to the caller
# (scripts/test.sh makes it beside the 32-bit build).
#
# A failed 'apt-get update' is not an error in itself (an index the needed packages don't
# come from may be out of sync); only a needed package that can't be installed is.
set -e
here=$(cd "$(dirname "$0")" && pwd)
installed() { dpkg -s "$1" >/dev/null 2>&1; }

need=""
for p in g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth cmake make \
         clang libclang-rt-14-dev googletest socat zip unzip python3 util-linux \
         fonts-ipafont-gothic fonts-lexi-gulim fonts-symbola fonts-babelstone-han; do
  # (the last four: Japanese text in the sandbox's screenshots, and the faces the pane gives
  # what that font can't draw: Hangul, emoji and symbols, CJK beyond the BMP such as U+20BB7)
  installed "$p" || need="$need $p"
done
want32=0
wantroot=0
if [ "${VELMORA_NO_32BIT:-0}" = 1 ]; then
  :
elif "$here/runs-32bit"; then
  if ! installed wine32:i386; then
    want32=1
    # for the i386 root, should wine32:i386 not install
    installed debootstrap || need="$need debootstrap"
  fi
elif ! installed wine32:i386; then
  if [ "${VELMORA_NO_VM:-0}" = 1 ]; then
    echo "setup: this kernel runs no 32-bit programs: no i386 packages; the x86-64 build is run instead" \
         "(VELMORA_NO_VM=1: no virtual machine over an i386 root of ours)"
  else
    echo "setup: this kernel runs no 32-bit programs: the 32-bit suite runs in a small virtual machine over an i386 root of ours"
    wantroot=1
    for p in debootstrap qemu-user-static qemu-system-x86 busybox-static cpio; do
      installed "$p" || need="$need $p"
    done
  fi
fi
# make_root: the i386 root, made or found ready; a root that can't be made is no error.
make_root() {
  [ "${VELMORA_ROOT32_LATER:-0}" = 1 ] && return 0
  if ! "$here/root32" make; then
    echo "setup: the i386 root can't be made (above): the 32-bit Windows suite can't run"
  fi
}
if [ -z "$need" ] && [ $want32 = 0 ]; then
  [ $wantroot = 1 ] && make_root
  exit 0
fi

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
update() {
  $sudo apt-get update -qq || echo "setup: 'apt-get update' failed (above); going on with the indexes it could read"
}
# install <package...>: one retry, after reading the indexes again, for a failed download.
install() {
  $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return 0
  echo "setup: installing $* failed; reading the indexes again and retrying once"
  update
  $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

if [ -n "$need" ]; then
  echo "setup: installing$need"
  update
  if ! install $need; then
    echo "setup: a needed package can't be installed (apt's message above); check the network" \
         "and /etc/apt/sources.list*, then run this again" >&2
    exit 1
  fi
fi

if [ $want32 = 1 ]; then
  echo "setup: installing wine32:i386 (32-bit Wine, for the 32-bit Windows suite)"
  added=0
  case " $(dpkg --print-foreign-architectures | tr '\n' ' ') " in
    *" i386 "*) ;;
    *) $sudo dpkg --add-architecture i386; added=1 ;;
  esac
  update
  if ! install wine32:i386; then
    # Left in place, the i386 architecture would make the next amd64 install fail as well.
    [ $added = 1 ] && $sudo dpkg --remove-architecture i386 || true
    echo "setup: 32-bit Wine can't be had from this machine's package indexes now (apt's" \
         "message above): the 32-bit suite runs in an i386 root of ours instead"
    wantroot=1
  fi
fi
[ $wantroot = 1 ] && make_root
exit 0
