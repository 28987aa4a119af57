# Sourced: prepare_wine_windows COMn sets up $WINEPREFIX for windows without a window manager
# (Wine draws the captions itself, Wine's own Tahoma and Marlett) and maps COMn to a link the
# simulator makes; prints the link's path. Needs DISPLAY (Xvfb).
prepare_wine_windows() {
  local port=$1 line=$WINEPREFIX/moravent-${1,,}
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "$fonts/$f" ] || cp "/usr/share/wine/fonts/$f" "$fonts/"
  done
  local reg
  reg=$(mktemp --suffix=.reg)
  cat > "$reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"$port"="$line"
REG
  wine regedit /S "$reg" > /dev/null 2>&1
  rm -f "$reg"
  wineserver -w > /dev/null 2>&1 || true
  # A server of our own, started with the new mapping: what it says stays out of the outputs.
  wineserver -p5 > /dev/null 2>&1
  echo "$line"
}
