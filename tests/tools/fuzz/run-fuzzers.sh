#!/usr/bin/env bash
# Runs each fuzz target of a MORAVENT_FUZZ build for a short time (default 20 s each).
# usage: tests/tools/fuzz/run-fuzzers.sh BUILD_DIR [SECONDS]
set -euo pipefail
dir=${1:?build dir with MORAVENT_FUZZ=ON}
secs=${2:-20}
for t in fuzz_srecord fuzz_intelhex fuzz_jobfile; do
  corpus=$(mktemp -d)
  "$dir/bin/$t" -max_total_time="$secs" -max_len=4096 "$corpus"
  rm -rf "$corpus"
done
