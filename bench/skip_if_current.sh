#!/usr/bin/env bash
# Times --skip-if-current on a unit that already carries the image against a full run, on
# one simulated unit paced at the job's programming rate (examples/demo-job.json: 57,600 bit/s).
# Usage: bench/skip_if_current.sh [RUNS]  (needs moravent-flash-cli, moravent-job and
# moravent-unitsim in build/bin, or BIN)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
bin=${BIN:-build/bin}
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
"$bin/moravent-job" build examples/demo-job.json -o "$work/demo-cli" --template "$bin/moravent-flash-cli" >/dev/null
"$bin/moravent-unitsim" --pace --link "$work/tty" >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$work/tty" ] && break; sleep 0.1; done

# Milliseconds of one run of the programmer with the given options; a failed run ends the bench.
timed() {
  local start
  start=$(date +%s%N)
  "$work/demo-cli" --port "$work/tty" --method user --no-progress "$@" </dev/null >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; exit 1; }
  echo $((($(date +%s%N) - start) / 1000000))
}

full=0 skip=0
for i in $(seq "$runs"); do
  f=$(timed)
  s=$(timed --skip-if-current)
  echo "run $i: full $f ms, skip-if-current on the current unit $s ms"
  full=$((full + f)) skip=$((skip + s))
done
python3 -c "import sys; f, s, n = map(int, sys.argv[1:]); \
print(f'full run {f / n:.0f} ms, --skip-if-current (current unit) {s / n:.0f} ms per run: {s / f:.0%} of a full run')" \
  "$full" "$skip" "$runs"
