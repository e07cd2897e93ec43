#!/usr/bin/env python3
"""The set-up's decisions, with apt-get, dpkg and sudo replaced by stand-ins on PATH that
record their arguments and fail where a row tells them to. Runs anywhere, without root."""
import os, re, subprocess, sys, tempfile

SETUP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "setup.sh")
# While i386 is added and its index is unreadable, 'update' fails and so does every install
# (multi-arch packages must have one version on both architectures), as a mirror in sync did.
STANDINS = {"dpkg": r'''echo "dpkg $*" >>"$STUB/log"
case "$1" in
  -s) case " $STUB_INSTALLED " in *" $2 "*) exit 0 ;; esac; exit 1 ;;
  --print-foreign-architectures) cat "$STUB/arch" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STUB/arch" ;;
  --remove-architecture) grep -vx "$2" "$STUB/arch" >"$STUB/a"; mv "$STUB/a" "$STUB/arch" ;;
esac''', "apt-get": r'''echo "apt-get $*" >>"$STUB/log"
if grep -qx i386 "$STUB/arch" 2>/dev/null && [ -n "$STUB_BAD_I386_INDEX" ]; then
  echo "E: Failed to fetch binary-i386/Packages.xz  File has unexpected size" >&2; exit 100; fi
case "$*" in *update*) [ -z "$STUB_BAD_UPDATE" ] || { echo "E: Failed to fetch" >&2; exit 100; } ;; esac
for p in "$@"; do case " $STUB_UNINSTALLABLE " in *" $p "*) echo "E: Unable to locate $p" >&2; exit 100 ;; esac; done''',
    "sudo": 'exec "$@"',
    # The i386 root's tools: debootstrap makes the folder's skeleton; mounts and chroot only log.
    "debootstrap": r'''echo "debootstrap $*" >>"$STUB/log"
[ -z "$STUB_BAD_DEBOOTSTRAP" ] || { echo "E: Couldn't download packages" >&2; exit 1; }
mkdir -p "$4/etc/apt/sources.list.d" "$4/proc" "$4/dev" "$4/tmp"''',
    "chroot": 'echo "chroot $*" >>"$STUB/log"', "mount": ":", "umount": ":"}
ROOT_VERSION = re.search(r"^version=(\d+)$", open(os.path.join(os.path.dirname(SETUP), "root32")).read(), re.M).group(1)
ROOT_TOOLS = "debootstrap qemu-user-static qemu-system-x86 busybox-static cpio"
EVERYTHING = ("g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth cmake make clang "
              "libclang-rt-14-dev googletest socat zip unzip python3 util-linux fonts-ipafont-gothic "
              "fonts-lexi-gulim fonts-symbola fonts-babelstone-han wine32:i386")

# (row, environment, return code, installs asked for in order, words the output must hold);
# "root" in the environment: the i386 root (and with "vm" its machine) made before; "apt":
# the machine's apt sources (by default a sources.list naming ARCHIVE for bookworm).
ARCHIVE = "http://archive.example/debian"
# An i386 root is made where debootstrap is asked, and only there.
ROWS = [
    ("no 32-bit kernel: the root and a machine", dict(VELMORA_PROBE_32BIT="no", STUB_BAD_I386_INDEX="1", vm="1"),
     0, ["amd64"], ["runs no 32-bit programs", "registering binfmt_misc", "taken away again", "root is ready"]),
    ("no 32-bit kernel, root made before", dict(VELMORA_PROBE_32BIT="no", STUB_INSTALLED=ROOT_TOOLS, root="1", vm="1"),
     0, ["amd64"], []),
    ("no 32-bit kernel, VELMORA_NO_VM=1", dict(VELMORA_PROBE_32BIT="no", VELMORA_NO_VM="1"),
     0, ["amd64"], ["runs no 32-bit programs"]),
    ("32-bit kernel", dict(VELMORA_PROBE_32BIT="yes"), 0, ["amd64", "wine32:i386"], ["wine32:i386"]),
    ("32-bit kernel, i386 index unreadable: a root", dict(VELMORA_PROBE_32BIT="yes", STUB_BAD_I386_INDEX="1"),
     0, ["amd64", "wine32:i386", "wine32:i386"], ["in an i386 root of ours instead", "root is ready"]),
    ("32-bit kernel, i386 index unreadable, root can't be made",
     dict(VELMORA_PROBE_32BIT="yes", STUB_BAD_I386_INDEX="1", STUB_BAD_DEBOOTSTRAP="1"),
     0, ["amd64", "wine32:i386", "wine32:i386"], ["root can't be made", "32-bit Windows suite can't run"]),
    ("no archive in the apt sources: no root", dict(VELMORA_PROBE_32BIT="no", STUB_INSTALLED=ROOT_TOOLS, apt=""),
     0, ["amd64"], ["no Debian archive for bookworm", "root can't be made"]),
    ("32-bit kernel, VELMORA_NO_32BIT=1", dict(VELMORA_PROBE_32BIT="yes", VELMORA_NO_32BIT="1"), 0, ["amd64"], []),
    ("an unrelated index unreadable", dict(VELMORA_PROBE_32BIT="no", STUB_BAD_UPDATE="1", root="1", vm="1"),
     0, ["amd64"], ["'apt-get update' failed"]),
    ("a needed package missing", dict(VELMORA_PROBE_32BIT="no", STUB_UNINSTALLABLE="cmake"),
     1, ["amd64", "amd64"], ["retrying once", "a needed package can't be installed"]),
    ("everything installed", dict(VELMORA_PROBE_32BIT="yes", STUB_INSTALLED=EVERYTHING), 0, [], []),
]

failed = 0
for name, extra, rc, installs, words in ROWS:
    with tempfile.TemporaryDirectory() as stub:
        for tool, text in STANDINS.items():
            with open(os.path.join(stub, tool), "w") as f:
                f.write("#!/bin/sh\n" + text + "\nexit 0\n")
            os.chmod(os.path.join(stub, tool), 0o755)
        cache = os.path.join(stub, "cache")
        os.makedirs(os.path.join(stub, "binfmt"))
        open(os.path.join(stub, "binfmt", "register"), "w").close()
        os.makedirs(os.path.join(stub, "apt", "sources.list.d"))
        sources = extra.pop("apt", f"deb [arch=amd64] {ARCHIVE} bookworm main\n")
        open(os.path.join(stub, "apt", "sources.list"), "w").write(sources)
        if extra.pop("root", None):
            os.makedirs(os.path.join(cache, "root"))
            open(os.path.join(cache, "root", ".velmora-root32"), "w").write(ROOT_VERSION + "\n")
        if extra.pop("vm", None):
            os.makedirs(os.path.join(cache, "vm"))
            open(os.path.join(cache, "vm", ".velmora-vm"), "w").write(ROOT_VERSION + "\n")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("STUB", "VELMORA"))}
        env.update(PATH=stub + ":" + env["PATH"], STUB=stub, VELMORA_ROOT32_DIR=cache, VELMORA_APT_DIR=os.path.join(stub, "apt"),
                   VELMORA_BINFMT_DIR=os.path.join(stub, "binfmt"), **extra)
        done = subprocess.run(["sh", SETUP], env=env, capture_output=True, text=True, timeout=60)
        log = open(os.path.join(stub, "log")).read().splitlines() if os.path.exists(stub + "/log") else []
        arch = open(os.path.join(stub, "arch")).read().split() if os.path.exists(stub + "/arch") else []
        binfmt = [open(os.path.join(stub, "binfmt", f)).read().strip() if os.path.exists(os.path.join(stub, "binfmt", f))
                  else "" for f in ("register", "velmora-i386")]
    apt = [line for line in log if line.startswith("apt-get")]
    asked = ["wine32:i386" if "wine32:i386" in line else "amd64" for line in apt if " install " in line]
    out = done.stdout + done.stderr
    problems = [f"returned {done.returncode}"] if done.returncode != rc else []
    problems += [f"installs {asked}"] if asked != installs else []
    problems += ["an amd64 install left out cmake"] if any(" install " in l and "wine32" not in l
                                                           and "cmake" not in l for l in apt) else []
    if any("--add-architecture" in line for line in log) != ("wine32:i386" in installs):
        problems.append("i386 architecture added wrongly")
    problems += ["i386 left added after 32-bit Wine failed"] if installs.count("wine32:i386") > 1 and "i386" in arch else []
    problems += [f"no {w!r} in the output" for w in words if w not in out]
    made = any(line.startswith("debootstrap") for line in log)
    if made != ("root is ready" in words or ("root can't be made" in words and "no Debian archive" not in out)):
        problems.append("debootstrap asked wrongly")
    if made and not any(line.startswith("debootstrap") and line.endswith(" " + ARCHIVE) for line in log):
        problems.append("debootstrap not given the machine's own archive")
    if "root is ready" in words and not any(line.startswith("chroot") and "wine32" in line for line in log):
        problems.append("wine32 not installed in the root")
    if "root is ready" in words and not any(" install " in l and "debootstrap" in l for l in apt):
        problems.append("debootstrap not installed for the root")
    if binfmt[0] and binfmt[1] != "-1":
        problems.append("binfmt_misc entry left registered")
    print(("ok   " if not problems else "FAIL ") + name + "".join("\n     " + p for p in problems))
    if problems:
        print(out)
    failed += bool(problems)
print(f"{len(ROWS) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
