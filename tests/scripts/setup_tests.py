#!/usr/bin/env python3
"""The set-up's decisions, with apt-get, dpkg and sudo replaced by stand-ins on PATH that
record their arguments and fail where a row tells them to. Runs anywhere, without root."""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The stand-ins. dpkg keeps the foreign architectures in a file; apt-get fails 'update' while
# i386 is added and its index is unreadable, and then also fails to install amd64 packages
# (multi-arch packages must have one version on both architectures), as a mirror in sync did.
DPKG = r'''#!/bin/sh
echo "dpkg $*" >>"$STUB/log"
case "$1" in
  -s) case " $STUB_INSTALLED " in *" $2 "*) exit 0 ;; esac; exit 1 ;;
  --print-foreign-architectures) cat "$STUB/arch" 2>/dev/null; exit 0 ;;
  --add-architecture) echo "$2" >>"$STUB/arch" ;;
  --remove-architecture) grep -vx "$2" "$STUB/arch" >"$STUB/arch.new"; mv "$STUB/arch.new" "$STUB/arch" ;;
esac
exit 0
'''
APT = r'''#!/bin/sh
echo "apt-get $*" >>"$STUB/log"
i386=0; grep -qx i386 "$STUB/arch" 2>/dev/null && i386=1
case "$*" in
  *update*)
    if [ $i386 = 1 ] && [ -n "$STUB_BAD_I386_INDEX" ]; then
      echo "E: Failed to fetch binary-i386/Packages.xz  File has unexpected size" >&2; exit 100
    fi
    [ -n "$STUB_BAD_UPDATE" ] && { echo "E: Failed to fetch other/InRelease" >&2; exit 100; }
    exit 0 ;;
esac
for p in "$@"; do
  case " $STUB_UNINSTALLABLE " in *" $p "*) echo "E: Unable to locate package $p" >&2; exit 100 ;; esac
done
if [ $i386 = 1 ] && [ -n "$STUB_BAD_I386_INDEX" ]; then
  echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
fi
exit 0
'''
SUDO = '#!/bin/sh\nexec "$@"\n'

EVERYTHING = ("g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth cmake make clang "
              "libclang-rt-14-dev googletest socat zip unzip python3 util-linux fonts-ipafont-gothic")

# (name, environment, expected return code, installs asked for in order, words of the output)
ROWS = [
    ("no 32-bit kernel, i386 index unreadable",
     dict(VELMORA_PROBE_32BIT="no", STUB_BAD_I386_INDEX="1"), 0,
     ["amd64"], ["runs no 32-bit programs"]),
    ("32-bit kernel, indexes fine",
     dict(VELMORA_PROBE_32BIT="yes"), 0, ["amd64", "wine32:i386"], ["installing wine32:i386"]),
    ("32-bit kernel, i386 index unreadable",
     dict(VELMORA_PROBE_32BIT="yes", STUB_BAD_I386_INDEX="1"), 0,
     ["amd64", "wine32:i386", "wine32:i386"], ["32-bit Wine can't be had", "32-bit Windows suite is skipped"]),
    ("32-bit kernel, VELMORA_NO_32BIT=1",
     dict(VELMORA_PROBE_32BIT="yes", VELMORA_NO_32BIT="1"), 0, ["amd64"], []),
    ("an unrelated index unreadable",
     dict(VELMORA_PROBE_32BIT="no", STUB_BAD_UPDATE="1"), 0, ["amd64"], ["'apt-get update' failed"]),
    ("a needed package missing from the mirror",
     dict(VELMORA_PROBE_32BIT="no", STUB_UNINSTALLABLE="cmake"), 1,
     ["amd64", "amd64"], ["retrying once", "a needed package can't be installed"]),
    ("everything installed",
     dict(VELMORA_PROBE_32BIT="yes", STUB_INSTALLED=EVERYTHING + " wine32:i386"), 0, [], []),
]


def run_row(env_extra):
    with tempfile.TemporaryDirectory() as stub:
        for name, text in (("dpkg", DPKG), ("apt-get", APT), ("sudo", SUDO)):
            path = os.path.join(stub, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("STUB", "VELMORA"))}
        env.update(PATH=stub + ":" + env["PATH"], STUB=stub, **env_extra)
        done = subprocess.run(["sh", os.path.join(ROOT, "scripts", "setup.sh")], env=env,
                              capture_output=True, text=True, timeout=60)
        log = open(os.path.join(stub, "log")).read().splitlines() if os.path.exists(os.path.join(stub, "log")) else []
        arch = open(os.path.join(stub, "arch")).read().split() if os.path.exists(os.path.join(stub, "arch")) else []
        return done, log, arch


def main():
    failures = 0
    for name, env_extra, rc, installs, words in ROWS:
        done, log, arch = run_row(env_extra)
        asked = []
        for line in log:
            if line.startswith("apt-get") and " install " in line:
                asked.append("wine32:i386" if "wine32:i386" in line else "amd64")
                assert "cmake" in line or "wine32:i386" in line, line  # every amd64 install names the lot
        problems = []
        if done.returncode != rc:
            problems.append(f"returned {done.returncode}, expected {rc}")
        if asked != installs:
            problems.append(f"installs {asked}, expected {installs}")
        if any(":i386" in line for line in log if line.startswith("apt-get")) and "wine32:i386" not in installs:
            problems.append("asked for an i386 package")
        if any("--add-architecture" in line for line in log) != ("wine32:i386" in installs):
            problems.append("added the i386 architecture" if "wine32:i386" not in installs
                            else "never added the i386 architecture")
        if done.returncode == 0 and "i386" in arch and installs.count("wine32:i386") > 1:
            problems.append("left the i386 architecture added after 32-bit Wine failed")
        out = done.stdout + done.stderr
        problems += [f"no {w!r} in the output" for w in words if w not in out]
        print(("ok   " if not problems else "FAIL ") + name)
        for p in problems:
            print("     " + p)
        if problems:
            print("     output:\n" + "".join("       " + line + "\n" for line in out.splitlines()))
        failures += bool(problems)
    print(f"{len(ROWS) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
