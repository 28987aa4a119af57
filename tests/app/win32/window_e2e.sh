#!/usr/bin/env bash
# window_e2e.sh EXE DRIVER LINUX_BIN EXAMPLES: the Windows window tool under Wine and Xvfb,
# stamped by the Linux job builder, against the Linux simulated unit on Wine's COM3. A driver
# inside Wine works its windows through window messages; each case is a simulator set-up and
# the operator's steps.
set -euo pipefail
exe=$1 driver=$2 bin=$3 examples=$4
: "${WINEPREFIX:?the Wine prefix the tests run in}"
export WINEDEBUG=-all
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sim_pid= app_pid=
cleanup() {
  for pid in $app_pid $sim_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "window_e2e: $*" >&2; exit 1; }

source "$here/wine_windows.sh"
line=$(prepare_wine_windows COM3)

"$bin/moravent-job" build "$examples/demo-job.json" -o "$work/demo.exe" --template "$exe" > /dev/null
python3 - "$exe" "$work/demo.exe" "$work/damaged.exe" <<'PY'
import struct, sys
template, stamped = (open(p, 'rb').read() for p in sys.argv[1:3])
marker = b'MORAVENT-STORED-DATA'
assert template.count(marker) == 1 and stamped.count(marker) == 1, 'the marker is not there once'
pe = struct.unpack_from('<I', stamped, 0x3C)[0]
assert struct.unpack_from('<H', stamped, pe + 92)[0] == 2, 'not a GUI program'
sections, optional = struct.unpack_from('<H12xH', stamped, pe + 6)
at = stamped.index(marker)
flags = [f for _, size, offset, f in (struct.unpack_from('<8s8xII12xI', stamped, pe + 24 + optional + 40 * i)
                                      for i in range(sections)) if offset <= at < offset + size]
assert flags and flags[0] & 0x40 and not flags[0] & 0x20, 'the marker is not in initialised data'
at = stamped.index(marker) + 200
damaged = bytearray(stamped)
damaged[at] ^= 0xFF
open(sys.argv[3], 'wb').write(damaged)
PY
title=$("$bin/moravent-job" show "$work/demo.exe" | sed -n 's/^ *"title": "\(.*\)",*$/\1/p')
[ -n "$title" ] || title="Moravent Flash Programmer"

# case NAME PROGRAM "SIMULATOR OPTIONS" STEPS...: the program runs until its window has closed.
case_() {
  local name=$1 program=$2 sim_options=$3
  shift 3
  # shellcheck disable=SC2086
  "$bin/moravent-unitsim" --link "$line" $sim_options > "$work/sim.out" 2> "$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -L "$line" ] && break; sleep 0.1; done
  wine "$work/$program" > /dev/null 2>&1 &
  app_pid=$!
  if ! wine "$driver" "$@" > "$work/driver.out" 2>&1; then
    tr -d '\r' < "$work/driver.out" >&2
    fail "$name"
  fi
  wine "$driver" close frmUserFlash \; gone frmUserFlash > /dev/null 2>&1 || kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" || true
  app_pid=
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  echo "$name: ok ($(tr -d '\r' < "$work/driver.out" | grep -c .) lines)"
}

connect=(click frmUserFlash btnStart \; wait frmUsrSerial \; select frmUsrSerial ComComboBoxPort COM3 \; \
         click frmUsrSerial btnOk \; wait frmConnectWiz \; click frmConnectWiz btnNext)

case_ "programs the unit" demo.exe "--block-delay 5" \
  wait frmUserFlash \; enabled frmUserFlash btnStart 1 \; "${connect[@]}" \; moving frmUserFlash ProgressBar \; \
  box Information "Unit Successfully Programmed!" \; text frmUserFlash lblProgress Progress \; \
  enabled frmUserFlash btnStart 1
case_ "boot fallback, cancelled at the reset prompt" demo.exe "--no-application --boot-answer-from 0" \
  "${connect[@]}" \; box Confirm "User Connect Method Failed (*" \; wait dlgUserPrompt \; \
  text dlgUserPrompt lblDialogText "Reset the Unit" \; click dlgUserPrompt CancelBtn \; \
  box "$title" "Connect Cancelled by User*" \; enabled frmUserFlash btnStart 1
case_ "an erase failure" demo.exe "--erase-verdict 0x25" \
  "${connect[@]}" \; box "$title" "Erase Failed: Device Failure.*" \; enabled frmUserFlash btnStart 1 \; \
  text frmUserFlash lblProgress Progress
case_ "a damaged stored block" damaged.exe "" \
  box "Moravent Flash Programmer" "No Valid FLASH Image Present! (Stored data is not valid).*" \; wait frmUserFlash \; \
  enabled frmUserFlash btnStart 0
case_ "the About window" demo.exe "" \
  wait frmUserFlash \; syscmd frmUserFlash 1025 \; wait frmAbout \; text frmAbout lblVersion "MV-FLASH-2.0.1*" \; \
  text frmAbout lblProgram "Moravent Flash Programmer" \; click frmAbout btnOk \; gone frmAbout
case_ "closing refused while busy" demo.exe "" \
  click frmUserFlash btnStart \; wait frmUsrSerial \; close frmUserFlash \; \
  box Error "Programming in Progress. Please wait until programming is complete." \; wait frmUserFlash \; \
  click frmUsrSerial btnCancel \; box "$title" "Connect Cancelled by User*" \; enabled frmUserFlash btnStart 1
