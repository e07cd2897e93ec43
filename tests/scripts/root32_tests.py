#!/usr/bin/env python3
"""The i386 root reaches a checkout wherever it lies: a copy of root32 in a folder under
/tmp whose name holds a blank, entered through a symbolic link, runs a job there that reads
a file of the checkout and exits with its own code. Needs the root (scripts/root32 make);
without it the row is skipped (exit status 77)."""
import os, shutil, subprocess, sys, tempfile

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
how = subprocess.run([os.path.join(SCRIPTS, "root32"), "how"], capture_output=True, text=True)
if not how.stdout.strip():
    print("skipped: no i386 root here (" + how.stderr.strip() + ")")
    sys.exit(77)

with tempfile.TemporaryDirectory(prefix="velmora root32 ", dir="/tmp") as top:
    checkout = os.path.join(top, "check, out")
    os.makedirs(os.path.join(checkout, "scripts"))
    for name in ("root32", "runs-32bit"):
        shutil.copy(os.path.join(SCRIPTS, name), os.path.join(checkout, "scripts", name))
    open(os.path.join(checkout, "marker"), "w").write("seen from the root\n")
    link = os.path.join(top, "link")
    os.symlink(checkout, link)
    env = {k: v for k, v in os.environ.items() if k != "VELMORA_BUILD"}
    env["PWD"] = link
    done = subprocess.run([os.path.join(link, "scripts", "root32"), "run", "sh", "-c", "cat marker; pwd; exit 7"],
                          cwd=link, env=env, capture_output=True, text=True, timeout=900)
out = done.stdout + done.stderr
problems = [f"exit status {done.returncode}, not the job's 7"] if done.returncode != 7 else []
problems += ["the job did not read the checkout's file"] if "seen from the root" not in out else []
problems += ["the job did not start in the caller's folder"] if link not in out else []
print(f"{how.stdout.strip()}: " + ("ok" if not problems else "FAIL " + "; ".join(problems)))
if problems:
    print(out)
sys.exit(1 if problems else 0)
