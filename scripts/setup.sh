#!/bin/sh
# Installs what the build and the tests need on Debian 12, and does nothing when all of it is there.
set -e
need=""
have() { command -v "$1" >/dev/null 2>&1; }
have i686-w64-mingw32-g++-posix || need="$need g++-mingw-w64-i686"
have x86_64-w64-mingw32-g++-posix || need="$need g++-mingw-w64-x86-64-posix"
have wine || need="$need wine"
dpkg -s wine32:i386 >/dev/null 2>&1 || need="$need wine32:i386"
dpkg -s wine64 >/dev/null 2>&1 || need="$need wine64"
have Xvfb || need="$need xvfb"
have xauth || need="$need xauth"
have xvfb-run || need="$need xvfb"
have cmake || need="$need cmake"
have make || need="$need make"
have clang++ || need="$need clang"
[ -f /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a ] || need="$need libclang-rt-14-dev"
[ -f /usr/src/googletest/CMakeLists.txt ] || need="$need googletest"
have socat || need="$need socat"
have zip || need="$need zip"
have unzip || need="$need unzip"
have python3 || need="$need python3"
have flock || need="$need util-linux"
# Japanese text in the sandbox's screenshots.
[ -f /usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf ] || need="$need fonts-ipafont-gothic"
[ -z "$need" ] && exit 0

echo "setup: installing$need"
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
case "$need" in *:i386*) $sudo dpkg --add-architecture i386 ;; esac
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $need >/dev/null
