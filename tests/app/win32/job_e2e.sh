#!/usr/bin/env bash
# job_e2e.sh JOB_EXE CLI_EXE LINUX_BIN EXAMPLES: the Windows job builder under Wine. It stamps
# the demo job into the Windows programmer (and into its default template, the window tool
# beside it, when that is built), shows what it stamped as the Linux job builder does, refuses
# bad jobs with the Linux builder's messages and exit codes, and its programmer programs the
# Linux simulated unit.
set -euo pipefail
job=$1 cli=$2 bin=$3 examples=$4
: "${WINEPREFIX:?the Wine prefix the tests run in}"
export WINEDEBUG=-all
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "job_e2e: $*" >&2; exit 1; }
cp "$examples"/demo-* "$work/"

(cd "$work" && wine "$job" build demo-job.json -o demo.exe --template "$cli" < /dev/null) || fail "build into the CLI failed"
wine "$job" show "$work/demo.exe" < /dev/null | tr -d '\r' > "$work/show.win"
"$bin/moravent-job" show "$work/demo.exe" > "$work/show.linux"
diff "$work/show.win" "$work/show.linux" > /dev/null || fail "show differs from Linux: $(diff "$work/show.win" "$work/show.linux")"
echo "built into the Windows programmer; show says what the Linux job builder says"
window=$(dirname "$job")/moravent-flash.exe
if [ -f "$window" ]; then
  (cd "$work" && wine "$job" build demo-job.json -o window.exe < /dev/null) || fail "build into the default template failed"
  "$bin/moravent-job" show "$work/window.exe" | grep -q '"title": "Moravent Demo Scale 1.0"' || fail "the window tool got no job"
  echo "built into the default template, the window tool beside it"
fi

# CASE: a job file's text; the Linux builder's exit code and last line are wanted.
while IFS='|' read -r name text; do
  printf '%s' "$text" > "$work/bad.json"
  want_code=0 got_code=0
  want=$(cd "$work" && "$bin/moravent-job" build bad.json -o bad-linux.exe --template "$work/demo.exe" 2>&1 >/dev/null |
         tail -n 1) || want_code=$?
  got=$(cd "$work" && wine "$job" build bad.json -o bad-win.exe --template demo.exe < /dev/null 2>&1 >/dev/null |
        tr -d '\r' | tail -n 1) || got_code=$?
  [ "$got_code" = "$want_code" ] && [ "$got" = "$want" ] ||
    fail "$name: exit $got_code \"$got\", the Linux builder: exit $want_code \"$want\""
  echo "$name: exit $got_code, \"$got\""
done <<'CASES'
no image|{"title": "x"}
unknown key|{"image": "demo-firmware.mot", "imagee": 1}
malformed|{"image": "demo-firmware.mot",
CASES

line=$WINEPREFIX/moravent-com1
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$line" /f > /dev/null 2>&1
"$bin/moravent-unitsim" --link "$line" > /dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$line" ] && break; sleep 0.1; done
last=$(wine "$work/demo.exe" --port COM1 --no-progress < /dev/null 2> /dev/null | tr -d '\r' | tail -n 1)
[ "$last" = "Unit Successfully Programmed!" ] || fail "the stamped programmer did not program the unit: \"$last\""
echo "the job the Windows builder stamped programmed the simulated unit"
