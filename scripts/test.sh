#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite:
#   1. host unit tests (ctest in build/host)
#   2. the same under AddressSanitizer + UndefinedBehaviorSanitizer (build/asan)
#   3. end-to-end tests of the real Kavorin.exe under Wine on a virtual display:
#      all of them against the build this machine runs natively (the 32-bit one
#      where 32-bit programs run, else the x86-64 one; KV_ARCH=i386 or
#      KV_ARCH=x86-64 picks it), and a smoke set against the other build where
#      the machine can run it (where it cannot, those count as skipped)
#   4. a short fuzzing run, and the include check of src/'s rooms (one test a file)
# and ends with one line "N passed, N failed" (", N skipped" when some were)
# counting the tests of all suites; a step that cannot run (a failed install or
# build) counts as one failed test. Exits non-zero when anything failed.
# Logs and JUnit files: build/test-logs/.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
LOGS="$ROOT/build/test-logs"
mkdir -p "$LOGS"
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3
export PYTHONDONTWRITEBYTECODE=1

total_pass=0 total_fail=0 total_skip=0
record() {  # suite passed failed skipped
  total_pass=$((total_pass + $2)) total_fail=$((total_fail + $3)) total_skip=$((total_skip + $4))
  echo "== $1: $2 passed, $3 failed, $4 skipped"
}
step() { echo; echo "== $*"; }
elapsed() { echo "   ($(( $(date +%s) - $1 )) s)"; }

# ctest_suite NAME BUILD_DIR [env...]: runs the ctest suite and counts its JUnit results.
ctest_suite() {
  local name="$1" dir="$2"; shift 2
  local junit="$LOGS/$name.xml" t0; t0=$(date +%s)
  step "$name: ctest in $dir"
  rm -f "$junit"
  env "$@" ctest --test-dir "$dir" --output-on-failure -j2 --output-junit "$junit" --timeout 300
  local rc=$?
  elapsed "$t0"
  local counts
  if ! counts=$("$PY" - "$junit" <<'EOF'
import sys, xml.etree.ElementTree as ET
passed = failed = skipped = 0
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status", "run")
    if case.find("skipped") is not None or status == "disabled":
        skipped += 1
    elif case.find("failure") is not None or case.find("error") is not None or status in ("fail", "notrun"):
        failed += 1
    else:
        passed += 1
print(passed, failed, skipped)
EOF
  ); then
    counts="0 1 0"  # no JUnit file: ctest itself failed
  fi
  set -- $counts
  if [ "$rc" -ne 0 ] && [ "$2" -eq 0 ]; then set -- "$1" 1 "$3"; fi
  record "$name" "$1" "$2" "$3"
}

# build_step NAME TARGET: builds one tree; a failure counts as one failed test.
build_step() {
  local t0; t0=$(date +%s)
  step "build $2"
  if bash scripts/build.sh "$2" 2>&1 | tee "$LOGS/build-$2.log"; then
    elapsed "$t0"; return 0
  fi
  elapsed "$t0"; record "build-$2" 0 1 0; return 1
}

t_start=$(date +%s)
step "install dependencies"
if ! bash scripts/install-deps.sh; then
  record install 0 1 0
  echo; echo "$total_pass passed, $total_fail failed"; exit 1
fi
elapsed "$t_start"

win_ok=0 win64_ok=0 host_ok=0 asan_ok=0
build_step win win && win_ok=1
build_step win64 win64 && win64_ok=1
build_step host host && host_ok=1
build_step asan asan && asan_ok=1

[ "$host_ok" -eq 1 ] && ctest_suite unit build/host
[ "$asan_ok" -eq 1 ] && ctest_suite unit-asan build/asan \
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# e2e_suite NAME ARCH [TEST_IDS...]: the real program of one build under Wine,
# all of tests/e2e or the tests named.
e2e_suite() {
  local name="$1" arch="$2"; shift 2
  local log="$LOGS/$name.log" t0; t0=$(date +%s)
  step "$name: the $arch Kavorin.exe under Wine"
  # SIGTERM on timeout lets the e2e session tear the display and Wine down.
  if [ $# -gt 0 ]; then
    (cd tests/e2e && KV_ARCH="$arch" timeout -k 30 1800 "$PY" -m unittest -v "$@") 2>&1 | tee "$log"
  else
    KV_ARCH="$arch" timeout -k 30 1800 "$PY" -m unittest discover -s tests/e2e -p 'test_*.py' -v 2>&1 \
      | tee "$log"
  fi
  elapsed "$t0"
  set -- $("$PY" - "$log" <<'EOF'
import re, sys
text = open(sys.argv[1], errors="replace").read()
ran = re.findall(r"^Ran (\d+) tests?", text, re.M)
if not ran:
    print(0, 1, 0)  # the runner did not get to its summary
    sys.exit()
ran = int(ran[-1])
tail = text[text.rfind("\nRan "):]
def count(word):
    m = re.search(r"\b%s=(\d+)" % word, tail)
    return int(m.group(1)) if m else 0
failed = count("failures") + count("errors") + count("unexpected successes")
skipped = count("skipped") + count("expected failures")
if not re.search(r"^(OK|FAILED)\b", tail, re.M):
    failed = max(failed, 1)
print(max(ran - failed - skipped, 0), failed, skipped)
EOF
  )
  record "$name ($arch build)" "$1" "$2" "$3"
}

# e2e_skip NAME ARCH WHY [TEST_IDS...]: counts a suite this machine cannot run as skipped.
e2e_skip() {
  local name="$1" arch="$2" why="$3"; shift 3
  local n=$#
  if [ "$n" -eq 0 ]; then
    n=$(cd tests/e2e && "$PY" -c 'import unittest
print(unittest.defaultTestLoader.discover(".", "test_*.py").countTestCases())' 2>/dev/null) || n=1
  fi
  step "$name: the $arch Kavorin.exe skipped: $why"
  record "$name ($arch build)" 0 0 "$n"
}

# The full suite runs against this machine's own build (KV_ARCH=i386 or
# KV_ARCH=x86-64 picks it), the smoke set against the other where it can run.
native=$(bash scripts/machine-arch.sh)
full="${KV_ARCH:-$native}"
if [ "$full" = i386 ]; then other=x86-64; else other=i386; fi
can_run() { [ "$1" = x86-64 ] || [ "$native" = i386 ]; }
built() { if [ "$1" = i386 ]; then [ "$win_ok" -eq 1 ]; else [ "$win64_ok" -eq 1 ]; fi; }
mapfile -t smoke < <(grep -v '^#' tests/e2e/smoke.txt | grep .)
no32="this machine cannot run 32-bit programs"
if ! can_run "$full"; then
  e2e_skip e2e "$full" "$no32"
elif built "$full"; then
  e2e_suite e2e "$full"
fi
if ! can_run "$other"; then
  e2e_skip e2e-smoke "$other" "$no32" "${smoke[@]}"
elif built "$other"; then
  e2e_suite e2e-smoke "$other" "${smoke[@]}"
fi

# Fuzzing, briefly: each target for a few seconds (scripts/fuzz.sh runs them long).
t0=$(date +%s)
step "fuzz: ${KV_FUZZ_SECONDS:-10} s per target"
bash scripts/fuzz.sh "${KV_FUZZ_SECONDS:-10}" 2>&1 | tee "$LOGS/fuzz.log"
elapsed "$t0"
set -- $(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$LOGS/fuzz.log" | tail -1)
record fuzz "${1:-0}" "${2:-1}" 0

# The rooms of src/: no file includes a header from a room above its own.
step "layers: the includes of src/"
"$PY" scripts/check-layers.py 2>&1 | tee "$LOGS/layers.log"
set -- $(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$LOGS/layers.log" | tail -1)
record layers "${1:-0}" "${2:-1}" 0

# More suites go here, each ending in: record NAME PASSED FAILED SKIPPED

echo
echo "all suites: $(( $(date +%s) - t_start )) s; logs in build/test-logs/"
line="$total_pass passed, $total_fail failed"
[ "$total_skip" -gt 0 ] && line="$line, $total_skip skipped"
echo "$line"
[ "$total_fail" -eq 0 ]
