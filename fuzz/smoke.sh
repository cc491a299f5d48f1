#!/bin/bash
# Fuzz smoke: each libFuzzer target for 15 s (75 s in all) from its seed
# corpus; new inputs go to build/fuzz/smoke/, never into fuzz/corpus/.
#
#   fuzz/smoke.sh               configure and build the fuzz preset, then run
#   fuzz/smoke.sh --build-only  configure and build only
#   fuzz/smoke.sh --run-only    run what is built; exit 77 (skipped) if nothing
#
# The host suite's fuzz_smoke test is the --run-only form.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
targets=(decode_chunk decode_chunk_word32 extract_run carrier_walk carrier_layout)
seconds=${BRISK_FUZZ_SMOKE_SECONDS:-15}
tree=build/fuzz

if [ "$mode" != --run-only ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
fi
[ "$mode" = --build-only ] && exit 0

for t in "${targets[@]}"; do
  if [ ! -x "$tree/fuzz/fuzz_$t" ]; then
    echo "no libFuzzer build of fuzz_$t in $tree (fuzz/smoke.sh --build-only): skipped"
    exit 77
  fi
done

# The run targets keep one stand-in handle object per file opened, so
# every run allocates more than it frees and libFuzzer's leak check after
# each input would only find that; their leaks are checked at exit.
target_options() {
  case $1 in
    decode_chunk*) echo -max_len=9000 ;;
    *) echo -max_len=9000 -detect_leaks=0 ;;
  esac
}

status=0
for t in "${targets[@]}"; do
  found="$tree/smoke/$t"
  rm -rf "$found"
  mkdir -p "$found" "$tree/artifacts/smoke"
  log="$tree/smoke/$t.log"
  if "$tree/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 $(target_options "$t") \
      -print_final_stats=1 -artifact_prefix="$tree/artifacts/smoke/$t-" \
      "$found" "fuzz/corpus/${t%_word32}" >"$log" 2>&1; then
    echo "fuzz_$t: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") runs, no finding"
  else
    status=1
    echo "fuzz_$t: FAILED, input in $tree/artifacts/smoke/; end of $log:"
    tail -n 40 "$log"
  fi
done
exit $status
