#!/usr/bin/env bash
# station_e2e.sh EXE LINUX_BIN EXAMPLES: the Windows station under Wine against three Linux
# simulated units on COM1..COM3. One round programs COM1, fails COM2's erase and loses COM3's
# worker to a kill from outside; the report holds three whole records. Then Ctrl-C cancels a
# slow unit, and a station killed from outside takes its workers with it (the job object).
set -euo pipefail
exe=$1 bin=$2 examples=$3
: "${WINEPREFIX:?the Wine prefix the tests run in}"
export WINEDEBUG=-all
work=$(mktemp -d)
sims=()
cleanup() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
  pkill -9 -f -- "--station-worker --port COM" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "station_e2e: $*" >&2; exit 1; }

"$bin/moravent-job" build "$examples/demo-job.json" -o "$work/demo.exe" --template "$exe" 2> /dev/null
image_length=$("$bin/moravent-job" show "$work/demo.exe" | sed -n 's/^ *"image_length": \([0-9]*\).*/\1/p')
image_sha=$("$bin/moravent-job" show "$work/demo.exe" | sed -n 's/^ *"image_sha256": "\([0-9a-f]*\)".*/\1/p')
for n in 1 2 3; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$WINEPREFIX/moravent-com$n" /f > /dev/null 2>&1
done
wineserver -w > /dev/null 2>&1 || true
wineserver -p5 > /dev/null 2>&1

# sim N OPTIONS...: a simulated unit on COMn.
sim() {
  local n=$1
  shift
  "$bin/moravent-unitsim" --link "$WINEPREFIX/moravent-com$n" "$@" > /dev/null 2> "$work/sim$n.err" &
  sims+=($!)
  for _ in $(seq 50); do [ -L "$WINEPREFIX/moravent-com$n" ] && break; sleep 0.1; done
}
stop_sims() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  sims=()
}
# until_event PATTERN FILE: waits up to 60 s for a JSON event line.
until_event() {
  for _ in $(seq 600); do grep -q "$1" "$2" 2>/dev/null && return 0; sleep 0.1; done
  fail "no event matching $1 in $2"
}
station_pid() { pgrep -f "^$work/demo.exe" | head -n 1; }

# One round: a good unit, a failing erase, a worker killed from outside mid-program.
sim 1 --dump "$work/flash1.bin"
sim 2 --erase-verdict 0x25
sim 3 --block-delay 300
code=0
wine "$work/demo.exe" --port COM1 --port COM2 --port COM3 --report "Z:$work/report.jsonl" --json < /dev/null \
  > "$work/events" 2> "$work/err" &
station=$!
until_event '"port":"COM3","phase":"program","done":[1-9]' "$work/events"
pkill -9 -f -- "--station-worker --port COM3" || fail "no worker for COM3 to kill"
wait "$station" || code=$?
stop_sims
[ "$code" = 1 ] || fail "the round ended with exit $code, wanted 1 ($(cat "$work/err"))"
dumped=$(head -c "$image_length" "$work/flash1.bin" | sha256sum | cut -d' ' -f1)
[ "$dumped" = "$image_sha" ] || fail "COM1's flash differs from the image"
python3 - "$work/report.jsonl" "$work/events" <<'PY'
import json, sys
text = open(sys.argv[1], encoding='utf-8').read()
assert text.endswith('\n'), 'the report does not end with a line end'
records = {r['port']: r for r in map(json.loads, text.splitlines())}
assert sorted(records) == ['COM1', 'COM2', 'COM3'], sorted(records)
assert records['COM1']['result'] == 'ok' and records['COM1']['phase'] == 'done', records['COM1']
assert records['COM2']['error'] == 'Erase Failed: Device Failure.', records['COM2']
assert records['COM3']['result'] == 'failed' and records['COM3']['error'].startswith('Worker ended'), records['COM3']
ends = [e for e in map(json.loads, open(sys.argv[2], encoding='utf-8')) if e['event'] == 'end']
assert sorted(e['port'] for e in ends) == ['COM1', 'COM2', 'COM3'], ends
print(f"round: COM1 ok, COM2 \"{records['COM2']['error']}\", COM3 \"{records['COM3']['error']}\"")
PY

# Ctrl-C reaches the station only; it cancels every port through the workers' pipes.
sim 3 --block-delay 300
wine "$work/demo.exe" --port COM3 --report "Z:$work/cancel.jsonl" --json < /dev/null > "$work/events" 2> "$work/err" &
station=$!
until_event '"port":"COM3","phase":"program","done":[1-9]' "$work/events"
kill -INT "$(station_pid)"
code=0
wait "$station" || code=$?
stop_sims
[ "$code" = 1 ] || fail "a cancelled station ended with exit $code"
grep -q '"result":"cancelled","error":"Programming Aborted by User."' "$work/cancel.jsonl" ||
  fail "Ctrl-C did not cancel COM3: $(cat "$work/cancel.jsonl")"
echo "Ctrl-C: COM3 cancelled, \"Programming Aborted by User.\""

# A station that dies takes its workers with it.
sim 3 --block-delay 300
wine "$work/demo.exe" --port COM3 --json < /dev/null > "$work/events" 2> "$work/err" &
station=$!
until_event '"port":"COM3","phase":"program"' "$work/events"
kill -9 "$(station_pid)"
wait "$station" 2>/dev/null || true
for _ in $(seq 100); do pgrep -f -- "--station-worker --port COM" > /dev/null || break; sleep 0.1; done
pgrep -f -- "--station-worker --port COM" > /dev/null && fail "a worker outlived its station"
stop_sims
echo "a station killed from outside: its worker ended with it"
