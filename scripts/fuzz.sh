#!/usr/bin/env bash
# Fuzzes the loaders, the command-line rule, the repeat-count parser, the
# player, kvrec's text reader and kvrec's reading of files and programs with libFuzzer
# (clang, AddressSanitizer + UndefinedBehaviorSanitizer),
# against the simulated desktop, for a bounded time per target.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]    (default 600 s, all targets)
#
# Prints executions and findings per target, then "N passed, N failed" (a
# target passes when it ran its time without a finding). Crashing inputs are
# kept in build/fuzz-findings/<target>/; each one found becomes a unit test.
# Only this run's findings count: those of earlier runs move to
# build/fuzz-findings/<target>/earlier/ and are run again first, as seeds, so an
# input that still fails is found again and one since mended passes.
set -uo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-600}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(load player_offset command_line parse_decimal play kvrec_text kvrec_file)

if [ ! -f build/fuzz/Makefile ]; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_FUZZ=ON >/dev/null || exit 1
fi
cmake --build build/fuzz -j"${KV_JOBS:-2}" >/dev/null || { echo "fuzz build failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0 failed=0
for t in "${targets[@]}"; do
  corpus="build/fuzz-corpus/$t" findings="build/fuzz-findings/$t"
  mkdir -p "$corpus" "$findings/earlier"
  cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null
  for old in "$findings"/crash-* "$findings"/timeout-* "$findings"/leak-* "$findings"/oom-*; do
    [ -f "$old" ] || continue
    cp -n "$old" "$corpus"/ && mv -f "$old" "$findings/earlier/"
  done
  log="build/fuzz-findings/$t.log"
  ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "build/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  crashes=$(find "$findings" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' -o -name 'oom-*' \) | wc -l)
  if [ "$rc" -eq 0 ] && [ "$crashes" -eq 0 ]; then
    passed=$((passed + 1)); verdict="no finding"
  else
    failed=$((failed + 1)); verdict="FINDINGS: $crashes input(s) in $findings (exit $rc; log $log)"
  fi
  printf 'fuzz %-14s %4s s  %10s executions  %s\n' "$t" "$SECONDS_EACH" "${execs:-?}" "$verdict"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
