# The runs, in the order the host expects them. Each prints between @@BEGIN and @@END with
# its exit status; the host times the unplugs from the JSON events and does the checking.
cli=/bin/moravent-flash-cli

tty_of_serial() {
  for t in /sys/class/tty/ttyUSB*; do
    [ "$(cat "$(readlink -f "$t/device")/../../serial" 2>/dev/null)" = "$1" ] && basename "$t"
  done
}

run() { # NAME USER ARGS...
  name=$1 user=$2; shift 2
  echo "@@BEGIN $name"
  su -s /bin/sh "$user" -c "$cli $* </dev/null 2>&1"
  echo "@@END $name $?"
}

# Samples an adapter's latency timer while the program holds it; then the state it is left in.
watched_run() { # NAME TTY ARGS...
  name=$1 dev=$2; shift 2
  rm -f /tmp/lat
  (while [ ! -e /tmp/stop ]; do cat /sys/class/tty/$dev/device/latency_timer >>/tmp/lat; sleep 0.05; done) &
  run "$name" flasher "$@"
  touch /tmp/stop; wait; rm -f /tmp/stop
  echo "@@LATENCY $name $(sort -u /tmp/lat | tr '\n' ' ')"
  echo "@@AFTER $name flag=$(lowlatency /dev/$dev) timer=$(cat /sys/class/tty/$dev/device/latency_timer)"
}

a=$(tty_of_serial MVA0001)
pci=$(for t in /sys/class/tty/ttyS*; do readlink -f "$t/device" | grep -q /pci && basename "$t"; done)
echo "@@PCI /dev/$pci"
for s in MVA0001 MVA0002 MVA0003 MVA0004; do echo "@@TTY $s $(tty_of_serial $s)"; done

run list flasher --list-ports --json
run permission outsider --port usb:MVA0001 --method user --no-progress
watched_run clear-before "$a" --port usb:MVA0001 --method user --no-progress
lowlatency /dev/$a on >/dev/null
watched_run set-before "$a" --port usb:MVA0001 --method user --no-progress
lowlatency /dev/$a off >/dev/null
run station flasher --port usb:MVA0001 --port usb:MVA0002 --port /dev/$pci --report /tmp/report.json --no-progress
sed "s/^/@@REPORT station /" /tmp/report.json
run unplug-program flasher --port usb:MVA0003 --json --no-progress
run unplug-verify flasher --port usb:MVA0001 --port usb:MVA0002 --port /dev/$pci --json --report /tmp/report2.json --no-progress
sed "s/^/@@REPORT unplug-verify /" /tmp/report2.json
run hangup flasher --port usb:MVA0004 --no-progress
