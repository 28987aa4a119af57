#!/usr/bin/env bash
# Runs every fuzz target of a MORAVENT_FUZZ build (its `fuzzers` target) for a short time
# (default 20 s each), starting from the seeds under tests/*/fuzz/seeds/TARGET where there
# are any. Prints one line per target; on a finding (a crash, a leak, an out-of-bounds
# read, an input taking over 10 s), the fuzzer's own report.
# usage: tests/tools/fuzz/run-fuzzers.sh BUILD_DIR [SECONDS]
set -euo pipefail
dir=${1:?build dir with MORAVENT_FUZZ=ON}
secs=${2:-20}
tests=$(cd "$(dirname "$0")/../.." && pwd)
shopt -s nullglob
targets=("$dir"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $dir/bin (build the fuzzers target)" >&2
  exit 1
fi
for bin in "${targets[@]}"; do
  t=$(basename "$bin")
  seeds=("$tests"/*/fuzz/seeds/"$t")
  corpus=$(mktemp -d)
  log=$(mktemp)
  if "$bin" -max_total_time="$secs" -max_len=4096 -timeout=10 "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    echo "$t: $(grep -o 'Done [0-9]* runs' "$log" | tail -n 1 | sed 's/Done //'), no finding"
  else
    tail -n 60 "$log"
    rm -rf "$corpus" "$log"
    echo "$t: finding (see above)" >&2
    exit 1
  fi
  rm -rf "$corpus" "$log"
done
