#!/usr/bin/env bash
# Times the Windows window tool's programming run against moravent-flash-cli.exe's on the
# same unpaced simulated unit, both under Wine in one invocation, and reports the ratio.
# The window run is timed by the test driver from the Start click to the success box (port
# dialog and wizard answered at once); the CLI run from its start to its exit.
# Usage: bench/window_vs_cli.sh [RUNS]  (needs scripts/build-windows and build/bin of a Linux build)
set -euo pipefail
cd "$(dirname "$0")/.."
# Under Xvfb: this script again, with the display it gives.
if [ -z "${MORAVENT_UNDER_XVFB:-}" ]; then
  MORAVENT_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
  exit
fi
runs=${1:-3}
win=${BUILD_DIR:-build-win} bin=${LINUX_BIN:-build/bin}
export WINEPREFIX=$(pwd)/$win/wineprefix WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  set -euo pipefail
  source tests/app/win32/wine_windows.sh
  local line sim_pid app_pid window=0 cli=0 ms start
  line=$(prepare_wine_windows COM3)
  "$bin/moravent-job" build examples/demo-job.json -o "$work/demo.exe" --template "$win/bin/moravent-flash.exe" >/dev/null
  "$bin/moravent-job" build examples/demo-job.json -o "$work/demo-cli.exe" \
    --template "$win/bin/moravent-flash-cli.exe" >/dev/null
  "$bin/moravent-unitsim" --link "$line" > /dev/null 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -L "$line" ] && break; sleep 0.1; done
  wine "$work/demo.exe" > /dev/null 2>&1 &
  app_pid=$!
  for i in $(seq "$runs"); do
    ms=$(wine "$win/bin/window_driver.exe" wait frmUserFlash \; mark \; click frmUserFlash btnStart \
      \; wait frmUsrSerial \; select frmUsrSerial ComComboBoxPort COM3 \; click frmUsrSerial btnOk \
      \; wait frmConnectWiz \; click frmConnectWiz btnNext \; box Information "Unit Successfully Programmed!" \
      \; mark | tr -d '\r' | sed -n 's/^mark \([0-9]*\) ms$/\1/p' | tail -n 1)
    window=$((window + ms))
    start=$(date +%s%N)
    wine "$work/demo-cli.exe" --port COM3 --no-progress < /dev/null > /dev/null 2>&1
    cli=$((cli + ($(date +%s%N) - start) / 1000000))
    echo "run $i: window $ms ms"
  done
  wine "$win/bin/window_driver.exe" close frmUserFlash > /dev/null 2>&1 || true
  wait "$app_pid" || true
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
  python3 -c "import sys; w, c, n = map(int, sys.argv[1:]); \
print(f'window tool {w / n:.0f} ms, CLI {c / n:.0f} ms (start-up included) per run: ratio {w / c:.2f}')" \
    "$window" "$cli" "$runs"
}
measure
