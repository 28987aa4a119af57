#!/usr/bin/env bash
# Runs each fuzz target of a MORAVENT_FUZZ build for a short time (default 20 s each).
# Prints one line per target; on a finding, the fuzzer's own report.
# usage: tests/tools/fuzz/run-fuzzers.sh BUILD_DIR [SECONDS]
set -euo pipefail
dir=${1:?build dir with MORAVENT_FUZZ=ON}
secs=${2:-20}
for t in fuzz_srecord fuzz_intelhex fuzz_jobfile; do
  corpus=$(mktemp -d)
  log=$(mktemp)
  if "$dir/bin/$t" -max_total_time="$secs" -max_len=4096 "$corpus" >"$log" 2>&1; then
    echo "$t: $(grep -o 'Done [0-9]* runs' "$log" | tail -n 1 | sed 's/Done //'), no finding"
  else
    tail -n 60 "$log"
    rm -rf "$corpus" "$log"
    echo "$t: finding (see above)" >&2
    exit 1
  fi
  rm -rf "$corpus" "$log"
done
