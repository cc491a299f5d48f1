#!/bin/bash
# The long campaign: every target at once for SECONDS (default 1200), at the
# lowest priority, then a summary of runs and findings per target.
#
#   fuzz/campaign.sh [SECONDS]       JOBS=2 fuzz/campaign.sh 3600
#   TARGETS="extract_run carrier_walk" fuzz/campaign.sh 600
#
# JOBS (default 1) is libFuzzer's -jobs/-workers per target: that many
# processes, each stopping at its first finding. KEEP_GOING=1 uses -fork
# with the same count instead and fuzzes on past findings, for a campaign
# against code with a known, not yet fixed fault. Starting from the seeds in
# fuzz/corpus/<target>/ (decode_chunk_word32 uses decode_chunk's) and
# whatever earlier campaigns kept, the corpus grows in
# build/fuzz/corpus/<target>/; crash, leak and timeout inputs land
# in build/fuzz/artifacts/<target>/, logs in build/fuzz/logs/<target>/.
# A finding is replayed with `build/fuzz/fuzz/fuzz_<target> <input>`; once
# fixed, copy the input into fuzz/corpus/<target>/ under a telling name, so
# the host suite replays it for good. Minimise a kept corpus with -merge=1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-1200}
jobs=${JOBS:-1}
read -r -a targets <<<"${TARGETS:-decode_chunk decode_chunk_word32 extract_run carrier_walk carrier_layout}"
root=$PWD
tree=$root/build/fuzz

# The run targets keep one stand-in handle object per file opened, so
# every run allocates more than it frees and libFuzzer's leak check after
# each input would only find that; their leaks are checked at exit.
target_options() {
  case $1 in
    decode_chunk*) echo -max_len=9000 ;;
    *) echo -max_len=9000 -detect_leaks=0 ;;
  esac
}

cmake --preset fuzz >/dev/null
nice -n 19 cmake --build --preset fuzz

for t in "${targets[@]}"; do
  mkdir -p "$tree/corpus/$t" "$tree/artifacts/$t" "$tree/logs/$t"
  rm -f "$tree/logs/$t"/*.log
  if [ "${KEEP_GOING:-0}" = 1 ]; then
    parallel=(-fork="$jobs" -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  else
    parallel=(-jobs="$jobs" -workers="$jobs")
  fi
  # libFuzzer writes each job's log as fuzz-<n>.log in the working folder.
  (cd "$tree/logs/$t" &&
    nice -n 19 "$tree/fuzz/fuzz_$t" "${parallel[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 $(target_options "$t") \
      -print_final_stats=1 -artifact_prefix="$tree/artifacts/$t/" \
      "$tree/corpus/$t" "$root/fuzz/corpus/${t%_word32}" >driver.log 2>&1) &
done
wait || true

for t in "${targets[@]}"; do
  # Per job: its final count; in fork mode the parent's last "#<runs>:" line.
  runs=$(cd "$tree/logs/$t" && {
    cat fuzz-[0-9]*.log 2>/dev/null | sed -n 's/^stat::number_of_executed_units: *//p'
    if [ "${KEEP_GOING:-0}" = 1 ]; then
      sed -n 's/^#\([0-9]*\):.*/\1/p' driver.log | tail -n 1
    fi
  } | awk '{s += $1} END {print s + 0}')
  corpus=$(ls "$tree/corpus/$t" | wc -l)
  found=$(ls "$tree/artifacts/$t" | wc -l)
  echo "fuzz_$t: $runs runs in ${seconds}s x $jobs, corpus $corpus, findings $found"
  ls "$tree/artifacts/$t" | sed 's/^/  /'
done
