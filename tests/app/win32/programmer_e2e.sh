#!/usr/bin/env bash
# programmer_e2e.sh EXE LINUX_BIN EXAMPLES: the Windows headless programmer under Wine
# against the Linux simulated unit. The template is signed with a throw-away certificate;
# the Linux moravent-job stamps the demo job into a copy of it, once left unsigned (a valid
# PE without a signature, and a note) and once signed again (the signature verifies; the
# marker once, in the PE file's initialised data). Wine's COM1 is the simulator's line; the
# signed program programs a unit by the user connect, one by the boot method, and a failing
# erase, each with its record appended to one report.
set -euo pipefail
exe=$1 bin=$2 examples=$3
: "${WINEPREFIX:?the Wine prefix the tests run in}"
export WINEDEBUG=-all
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "programmer_e2e: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Moravent throw-away signer" 2> /dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$exe" -out "$work/signed-template.exe" > /dev/null
"$bin/moravent-job" build "$examples/demo-job.json" -o "$work/unsigned.exe" --template "$work/signed-template.exe" \
  2> "$work/note"
grep -q "is signed, and stamping breaks a signature: .*unsigned.exe is written unsigned and needs signing" "$work/note" ||
  fail "no note that the stamped program needs signing: $(cat "$work/note")"
if osslsigncode verify -CAfile "$work/cert.pem" "$work/unsigned.exe" > /dev/null 2>&1; then
  fail "a program stamped from a signed template still claims a signature"
fi
"$bin/moravent-job" build "$examples/demo-job.json" -o "$work/demo.exe" --template "$work/signed-template.exe" \
  --sign "$work/cert.pem" --key "$work/key.pem"
osslsigncode verify -CAfile "$work/cert.pem" "$work/demo.exe" > /dev/null || fail "the signed program does not verify"
echo "signed: the stamped program verifies; stamped without --sign it is unsigned, with the note"
python3 - "$exe" "$work/unsigned.exe" "$work/demo.exe" <<'PY'
import struct, sys
template, unsigned, stamped = (open(p, 'rb').read() for p in sys.argv[1:])
marker = b'MORAVENT-STORED-DATA'
# The signer pads the file to 8 bytes before its table; that padding may stay, nothing more.
assert 0 <= len(unsigned) - len(template) < 8, 'stamping a signed template left more than its padding'
for name, data in (('template', template), ('unsigned', unsigned), ('stamped', stamped)):
    assert data.count(marker) == 1, f'{name}: the marker {data.count(marker)} times'
pe = struct.unpack_from('<I', stamped, 0x3C)[0]
sections, optional = struct.unpack_from('<H12xH', stamped, pe + 6)
at = stamped.index(marker)
for i in range(sections):
    name, size, offset, flags = struct.unpack_from('<8s8xII12xI', stamped, pe + 24 + optional + 40 * i)
    if offset <= at < offset + size:
        assert flags & 0x40 and not flags & 0x20, f'the marker is in {name}, flags {flags:#x}'
        print(f'stamped: the marker once, in {name.rstrip(bytes(1)).decode()} (initialised data)')
        break
else:
    raise SystemExit('the marker is in no section')
PY

# Wine maps COM1 to the path this registry value names; the simulator links it to its line.
line=$WINEPREFIX/moravent-com1
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$line" /f > /dev/null 2>&1
# What SetupAPI tells of an FTDI adapter behind COM1, as its driver leaves it in the registry
# (Wine makes no such device by itself): identity, serial number, latency timer 16 ms.
cat > "$work/adapter.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+A50285BIA\0000]
"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"
"Class"="Ports"
"FriendlyName"="USB Serial Port (COM1)"
"HardwareID"=hex(7):46,54,44,49,42,55,53,5c,43,4f,4d,50,4f,52,54,26,56,49,44,5f,30,34,30,33,26,50,49,44,5f,36,30,30,31,00,00
"Mfg"="FTDI"
"Service"="FTSER2K"
"LocationInformation"="Port_#0002.Hub_#0001"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+A50285BIA\0000\Device Parameters]
"PortName"="COM1"
"LatencyTimer"=dword:00000010
REG
wine regedit /S "$work/adapter.reg" > /dev/null 2>&1
wineserver -w > /dev/null 2>&1 || true
# A server of our own, started with the new mapping: what it says stays out of the outputs.
wineserver -p5 > /dev/null 2>&1

image_sha=$("$bin/moravent-job" show "$work/demo.exe" | sed -n 's/^ *"image_sha256": "\([0-9a-f]*\)".*/\1/p')
image_length=$("$bin/moravent-job" show "$work/demo.exe" | sed -n 's/^ *"image_length": \([0-9]*\).*/\1/p')

# run WHAT EXPECTED_EXIT EXPECTED_LAST_LINE SIMULATOR_OPTIONS...
run() {
  local what=$1 want_exit=$2 want_last=$3
  shift 3
  "$bin/moravent-unitsim" --link "$line" --dump "$work/flash.bin" "$@" > "$work/sim.out" 2> "$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -L "$line" ] && break; sleep 0.1; done
  local code=0
  wine "$work/demo.exe" --port "${port:-COM1}" --no-progress --report "Z:$work/report.jsonl" < /dev/null > "$work/out" \
    2> "$work/err" || code=$?
  kill "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  # A success ends standard output, a failure standard error.
  local last
  if [ "$code" = 0 ]; then
    last=$(tr -d '\r' < "$work/out" | tail -n 1)
  else
    last=$(tr -d '\r' < "$work/err" | tail -n 1)
  fi
  [ "$code" = "$want_exit" ] || fail "$what: exit $code, wanted $want_exit ($(cat "$work/err"))"
  [ "$last" = "$want_last" ] || fail "$what: last line \"$last\", wanted \"$want_last\""
  echo "$what -> exit $code, \"$last\""
}

run "user connect" 0 "Unit Successfully Programmed!"
grep -q "^Note: the adapter's latency timer is 16 ms, .*Device Manager" "$work/err" ||
  fail "no latency note for the 16 ms FTDI timer: $(cat "$work/err")"
dumped=$(head -c "$image_length" "$work/flash.bin" | sha256sum | cut -d' ' -f1)
[ "$dumped" = "$image_sha" ] || fail "the unit's flash differs from the image"
echo "the unit's flash equals the image ($image_length bytes)"
port=usb:A50285BI run "boot method, the adapter by its serial number" 0 "Unit Successfully Programmed!" --no-application
wine "$work/demo.exe" --list-ports --json < /dev/null 2> /dev/null | tr -d '\r' > "$work/ports.json"
python3 - "$work/ports.json" <<'PY'
import json, sys
ports = {p['name']: p for p in json.load(open(sys.argv[1]))}
com1 = ports['COM1']
want = {'driver': 'FTSER2K', 'vid': '0403', 'pid': '6001', 'serial': 'A50285BI', 'usb_path': 'Port_#0002.Hub_#0001',
        'manufacturer': 'FTDI', 'product': 'USB Serial Port', 'bus': 'usb'}
assert all(com1[k] == v for k, v in want.items()), com1
print('list-ports: COM1 is the FTDI adapter A50285BI, as SetupAPI tells it')
PY
# A writer that died mid-line: the next record starts on a line of its own.
printf '{"cut": ' >> "$work/report.jsonl"
run "erase failure" 1 "Erase Failed: Device Failure." --erase-verdict 0x25
python3 - "$work/report.jsonl" <<'PY'
import json, sys
lines = open(sys.argv[1], encoding='utf-8').read().split('\n')
assert lines[-1] == '', 'the report does not end with a line end'
assert lines[2] == '{"cut": ', f'the fragment was continued: {lines[2]!r}'
records = [json.loads(l) for i, l in enumerate(lines[:-1]) if i != 2]
assert [r['result'] for r in records] == ['ok', 'ok', 'failed'], [r['result'] for r in records]
assert records[1]['method'] == 'boot' and records[2]['error'] == 'Erase Failed: Device Failure.'
assert records[0]['usb'] == {'vid': '0403', 'pid': '6001', 'serial': 'A50285BI', 'usb_path': 'Port_#0002.Hub_#0001'}, \
    records[0]['usb']
print('report: three whole records, the fragment left alone')
PY
