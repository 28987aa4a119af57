#!/usr/bin/env bash
# check-windows-installer.sh SETUP.EXE ZIP LINUX_BIN: the Windows installer under Wine, in a
# prefix of its own. A silent install; the installed job builder stamps the installed window
# tool; the installed moravent-flash-cli.exe tells its version and programs the Linux simulated
# unit; a silent uninstall leaves no file, shortcut or registry key behind. Wine may report
# success for an installer it could not run, so files and keys are checked, never exit
# statuses. The zip holds the same files.
set -euo pipefail
setup=$(realpath "$1") zip=$(realpath "$2") bin=$(realpath "$3")
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  wineserver -k > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-windows-installer: $*" >&2; exit 1; }

wineboot -i > /dev/null 2>&1 || true
wineserver -w
folder="$WINEPREFIX/drive_c/Program Files/Moravent Flash Programmer"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Moravent Flash Programmer"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Moravent Flash Programmer'
vendor_key='HKLM\Software\Moravent Instruments Ltd'
key_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"; }

wine "$setup" /S > /dev/null 2>&1 || true
wineserver -w
cli="$folder/bin/moravent-flash-cli.exe"
[ -f "$cli" ] || fail "nothing installed in $folder"
for f in doc/moravent-flash-cli.txt doc/copyright.txt examples/demo-job.json Uninstall.exe; do
  [ -f "$folder/$f" ] || fail "$f not installed"
done
for link in "Command prompt.lnk" "moravent-flash-cli manual.lnk" "Uninstall.lnk"; do
  [ -f "$menu/$link" ] || fail "no Start-menu shortcut $link"
done
[ "$(key_value "$uninstall_key" Publisher)" = "Moravent Instruments Ltd" ] || fail "no publisher in Add/Remove Programs"
version=$(key_value "$uninstall_key" DisplayVersion)
[ -n "$version" ] || fail "no version in Add/Remove Programs"
echo "installed $version: programs, manuals, demo job, shortcuts, Add/Remove Programs entry"

said=$(wine "$cli" --version < /dev/null 2>&1 | tr -d '\r')
[[ "$said" == *"$version"* ]] || fail "the installed program says \"$said\", not version $version"

# The installed job builder stamps the demo job into its default template, the installed window tool.
wine "$folder/bin/moravent-job.exe" build "$folder/examples/demo-job.json" -o "Z:$work/window.exe" < /dev/null \
  > /dev/null 2>&1 || true
"$bin/moravent-job" show "$work/window.exe" 2> /dev/null | grep -q '"title": "Moravent Demo Scale 1.0"' ||
  fail "the installed job builder did not stamp the demo job into the installed window tool"
echo "the installed job builder stamped the demo job into the installed window tool"

# The installed programmer with the demo job stamped into a copy of itself by the Linux job builder.
"$bin/moravent-job" build "$folder/examples/demo-job.json" -o "$work/demo.exe" --template "$cli" 2> /dev/null
line=$WINEPREFIX/moravent-com1
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$line" /f > /dev/null 2>&1
wineserver -k > /dev/null 2>&1 || true
"$bin/moravent-unitsim" --link "$line" > /dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$line" ] && break; sleep 0.1; done
last=$(wine "$work/demo.exe" --port COM1 --no-progress < /dev/null 2> /dev/null | tr -d '\r' | tail -n 1)
[ "$last" = "Unit Successfully Programmed!" ] || fail "the installed programmer did not program the unit: \"$last\""
echo "the installed programmer programmed the simulated unit"

listed=$(unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v '/$' | sort)
installed=$(cd "$folder" && find . -type f ! -name Uninstall.exe | sed 's|^\./||' | sort)
[ "$listed" = "$installed" ] || fail "the zip and the installer hold different files: $(diff <(echo "$listed") <(echo "$installed"))"
echo "the zip holds the installed files"

wine "$folder/Uninstall.exe" /S > /dev/null 2>&1 || true
wineserver -w
for _ in $(seq 50); do [ -e "$folder" ] || break; sleep 0.2; done
[ ! -e "$folder" ] || fail "left behind: $(cd "$folder" && find . | head)"
[ ! -e "$menu" ] || fail "Start-menu folder left behind"
for key in "$uninstall_key" "$vendor_key"; do
  ! wine reg query "$key" > /dev/null 2>&1 || fail "registry key left behind: $key"
done
echo "uninstalled: no file, shortcut or registry key left"
