#!/usr/bin/env python3
"""The test command's verdicts: scripts/test.sh in a copy of its own, with the set-up, the
builds, the i386 root, the fuzz run and ctest stood in for, each suite made to fail in each
way. A failed suite must turn the exit status non-zero and its closing line into FAILED with
the reason. Runs anywhere, without root."""
import os, shutil, signal, subprocess, sys, tempfile, time

TEST_SH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "test.sh")
# (file, text): the stand-ins. ctest answers -N with the tree's count (STUB_N_<tree>) and a
# run with STUB_<suite>: ok, fail (one program fails), few (one program short), silent.
STANDINS = {
    "scripts/setup.sh": "exit 0",
    "scripts/build.sh": '[ -z "$STUB_BUILD_FAILS" ] || { echo "build failed"; exit 2; }',
    "scripts/runs-32bit": '[ "$STUB_32BIT" = yes ]',
    "scripts/wine-env": 'why_no_32bit() { [ "$STUB_WINE32" = yes ] || echo "no 32-bit Wine"; }',
    "scripts/wine-desktops": 'shift 2; exec "$@"',
    "scripts/fuzz.sh": '[ -z "$STUB_FUZZ_FINDS" ] || { echo "html_text findings 1"; exit 1; }\n'
                       'echo "fuzz: 6 of 6 targets ran, no findings"',
    "scripts/root32": r'''case $1 in
  make) [ -z "$STUB_NO_ROOT" ] || { echo "root32: debootstrap failed"; exit 1; } ;;
  stop) echo stop >>"$STUB/stopped" ;;
  run) shift; [ "$STUB_VM" != exit1 ] || { echo "root32: the job can't enter its folder in the root: '/tmp/x'"; exit 1; }
       [ "$STUB_VM" != timeout ] || { echo "root32: the virtual machine ran more than 5 s and was stopped"; exit 124; }
       [ "$STUB_VM" != silent ] || exit 0
       STUB_SUITE=${STUB_VM:-ok} "$@"; rc=$?; [ "$STUB_VM" != late ] || rc=1; exit $rc ;;
esac''',
    "bin/cmake": "exit 0",
    "bin/ctest": r'''tree=; n=; while [ $# -gt 0 ]; do case $1 in --test-dir) tree=$(basename "$2"); shift ;; -N) n=1 ;;
  -L) [ "$2" = file ] && tree=file; shift ;; esac; shift; done
total=$(eval echo "\$STUB_N_$tree")
[ -z "$n" ] || { echo "Total Tests: $total"; exit 0; }
way=${STUB_SUITE:-$(eval echo "\${STUB_$tree:-ok}")}
case $way in
  interrupt) touch "$STUB/waiting"; sleep 30 ;;
  silent) exit 0 ;;
  fail) echo "97% tests passed, 1 tests failed out of $total"; exit 8 ;;
  few) echo "100% tests passed, 0 tests failed out of $((total - 1))" ;;
  *) echo "100% tests passed, 0 tests failed out of $total" ;;
esac''',
}
VM = dict(STUB_32BIT="no")
W32 = "32-bit Windows suite (the product, under 32-bit Wine in a virtual machine): "
# (row, environment, exit status zero, words the output must hold)
ROWS = [
    ("every suite passes", VM, True, [W32 + "30 of 30 programs passed", "(under 64-bit Wine): 32 of 32 programs passed",
                                      "fuzzing (12 s a target): 6 of 6 targets ran", "every suite passed"]),
    ("the machine's job exits 1 before CTest", dict(VM, STUB_VM="exit1"), False,
     [W32 + "FAILED: no CTest summary (the job exited 1: root32: the job can't enter"]),
    ("the machine's job prints nothing", dict(VM, STUB_VM="silent"), False, [W32 + "FAILED: no CTest summary (the job exited 0)"]),
    ("one program fails in the machine", dict(VM, STUB_VM="fail"), False, [W32 + "FAILED: 1 of 30 programs failed"]),
    ("the machine's run times out", dict(VM, STUB_VM="timeout"), False,
     [W32 + "FAILED: no CTest summary (the job exited 124: root32: the virtual machine ran more than 5 s"]),
    ("the machine counts a program short", dict(VM, STUB_VM="few"), False, [W32 + "FAILED: CTest counted 29 programs, the tree holds 30"]),
    ("the machine's job fails after its summary", dict(VM, STUB_VM="late"), False,
     [W32 + "FAILED: all 30 programs passed, but the job exited 1"]),
    ("the root can't be made", dict(VM, STUB_NO_ROOT="1"), False, [W32 + "FAILED: the i386 root can't be made"]),
    ("a 64-bit program fails", dict(VM, STUB_win64="fail"), False, ["(under 64-bit Wine): FAILED: 1 of 32 programs failed"]),
    ("the native suite prints nothing", dict(VM, STUB_native="silent"), False,
     ["UndefinedBehaviorSanitizer): FAILED: no CTest summary (the job exited 0)"]),
    ("a fuzz target finds an input", dict(VM, STUB_FUZZ_FINDS="1"), False, ["fuzzing (12 s a target): FAILED: html_text findings 1"]),
    ("the file checks count a program short", dict(VM, STUB_file="few"), False, ["bytes): FAILED: CTest counted 2 programs, the tree holds 3"]),
    ("the machine's own 32-bit Wine, a program fails", dict(STUB_32BIT="yes", STUB_WINE32="yes", STUB_win32="fail"), False,
     ["(the product, under 32-bit Wine): FAILED: 1 of 33 programs failed", "file checks (format, exports, imports, reproducible bytes): skipped"]),
    ("the build fails", dict(VM, STUB_BUILD_FAILS="1"), False, [W32 + "FAILED: it did not run: the run stopped before it"]),
    ("interrupted in the 64-bit suite", dict(VM, STUB_win64="interrupt"), False,
     ["(under 64-bit Wine): FAILED: it did not end (interrupted)",
      "file checks (format, exports, imports, reproducible bytes): FAILED: it did not run: interrupted"]),
    ("the 32-bit suite left out on request", dict(VM, VELMORA_NO_32BIT="1"), True,
     ["32-bit Windows suite (the product): skipped: VELMORA_NO_32BIT=1", "every suite passed"]),
]

failed = 0
for name, extra, passes, words in ROWS:
    with tempfile.TemporaryDirectory() as repo:
        for path, text in STANDINS.items():
            os.makedirs(os.path.join(repo, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(repo, path), "w") as f:
                f.write("#!/bin/sh\n" + text + "\n")
            os.chmod(os.path.join(repo, path), 0o755)
        shutil.copy(TEST_SH, os.path.join(repo, "scripts", "test.sh"))
        env = {k: v for k, v in os.environ.items() if not k.startswith(("STUB", "VELMORA"))}
        env.update(PATH=os.path.join(repo, "bin") + ":" + env["PATH"], STUB=repo, VELMORA_BUILD=os.path.join(repo, "build"),
                   STUB_N_win32="33", STUB_N_win64="32", STUB_N_native="4", STUB_N_file="3", **extra)
        env["STUB_N_win32"] = "30" if extra.get("STUB_WINE32") != "yes" else "33"
        run = subprocess.Popen(["sh", os.path.join(repo, "scripts", "test.sh")], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, start_new_session=True)
        if extra.get("STUB_win64") == "interrupt":
            for _ in range(300):
                if os.path.exists(os.path.join(repo, "waiting")):
                    break
                time.sleep(0.1)
            os.killpg(run.pid, signal.SIGINT)
        out = run.communicate(timeout=60)[0]
    problems = [f"exit status {run.returncode}"] if (run.returncode == 0) != passes else []
    problems += [f"no {w!r} in the output" for w in words if w not in out]
    print(("ok   " if not problems else "FAIL ") + name + "".join("\n     " + p for p in problems))
    if problems:
        print(out)
    failed += bool(problems)
print(f"{len(ROWS) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
