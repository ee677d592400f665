#!/usr/bin/env bash
# Mutation testing of the portable core: applies each single fault listed
# in tests/mutants.txt to the source, rebuilds the core suite in BUILD_DIR
# and runs it. A mutant is killed when the suite fails (or hangs past its
# time limit); one that survives is a fault no test notices. Prints each
# survivor and the share killed (goal: 90 % or more).
#
#   scripts/mutants.sh BUILD_DIR [LIST]
#
# BUILD_DIR is a configured Linux build (scripts/build.sh). The mutants are
# applied in the source tree and each file is restored after its mutant
# (also when the script is interrupted): run it on a tree nobody else is
# building. About 30 s a mutant on two cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: mutants.sh BUILD_DIR [LIST]}" && pwd)
list=${2:-$root/tests/mutants.txt}
exec python3 - "$root" "$build" "$list" <<'PY'
import subprocess, sys

root, build, listing = sys.argv[1:4]
suite = build + "/tests/tarnwick_core_tests"

def rebuilt():
    return subprocess.run(["cmake", "--build", build, "--target", "tarnwick_core_tests"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0

def suite_passes():
    try:
        return subprocess.run([suite, "--gtest_brief=1"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=300).returncode == 0
    except subprocess.TimeoutExpired:
        return False

if not rebuilt() or not suite_passes():
    sys.exit("mutants: the core suite does not build or fails without a mutant")

total = killed = stale = 0
for line in open(listing):
    line = line.rstrip("\n")
    if not line.strip() or line.startswith("#"):
        continue
    # FILE | TEXT | REPLACEMENT | WHAT, split on " | " only: code has "||".
    file, old, new, what = (part.strip() for part in line.split(" | ", 3))
    old, new = old.replace("\\n", "\n"), new.replace("\\n", "\n")
    path = root + "/" + file
    original = open(path).read()
    if original.count(old) != 1:
        print(f"STALE: {file}: not found exactly once: {old!r}")
        stale += 1
        continue
    total += 1
    try:
        open(path, "w").write(original.replace(old, new))
        if not rebuilt():
            print(f"killed (does not build): {file}: {what}")
            killed += 1
        elif not suite_passes():
            killed += 1
        else:
            print(f"SURVIVED: {file}: {what}")
    finally:
        open(path, "w").write(original)
rebuilt()
share = 100 * killed / total if total else 0
print(f"mutants: {killed} of {total} killed ({share:.0f} %) (goal >= 90 %) {'PASS' if share >= 90 else 'MISS'}"
      + (f"; {stale} stale lines in the list" if stale else ""))
PY
