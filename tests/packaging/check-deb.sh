#!/usr/bin/env bash
# check-deb.sh DEB: the package works, not only the build tree. Unpacks DEB into a
# temporary root and, from the unpacked paths only, checks what it holds, stamps the
# packaged demo job with the packaged moravent-job (into its default template and into the packaged
# moravent-flash-cli), programs a packaged moravent-unitsim and compares the unit's flash
# with the image.
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "check-deb: $*" >&2
  exit 1
}

root=$work/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
doc=$root/usr/share/doc/moravent-flash-programmer
programs="moravent-flash moravent-flash-cli moravent-job moravent-records moravent-unitsim"
[ "$(ls "$bin" | tr '\n' ' ')" = "$programs " ] || fail "usr/bin holds $(ls "$bin" | tr '\n' ' ')"
examples=$doc/examples
for f in "$doc/copyright" "$doc/changelog.gz" "$examples/demo-job.json" "$doc/udev/60-moravent-serial.rules"; do
  [ -f "$f" ] || fail "no ${f#"$root"/}"
done
for p in $programs; do
  page=$root/usr/share/man/man1/$p.1.gz
  [ -f "$page" ] || fail "no manual page for $p"
  warnings=$(zcat "$page" | groff -ww -z -man 2>&1)
  [ -z "$warnings" ] || fail "$p.1.gz: $warnings"
done
version=$(dpkg-deb -f "$deb" Version)
for p in moravent-flash-cli moravent-job moravent-records moravent-unitsim; do
  [ "$("$bin/$p" --version)" = "$p $version" ] || fail "$p --version: $("$bin/$p" --version)"
done

echo "== Stamping the packaged demo job with the packaged moravent-job"
"$bin/moravent-job" build "$examples/demo-job.json" -o "$work/demo-flash" --launcher
"$bin/moravent-job" show "$work/demo-flash" > /dev/null
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$work/demo-flash.desktop"
fi
"$bin/moravent-job" build "$examples/demo-job.json" -o "$work/demo-cli" --template "$bin/moravent-flash-cli"
"$bin/moravent-job" show "$work/demo-cli" > "$work/job.json"
field() { sed -n "s/^ *\"$1\": *\"\{0,1\}\([^\",]*\)\"\{0,1\},\{0,1\}$/\1/p" "$work/job.json" | head -n 1; }
image_length=$(field image_length)
image_sha=$(field image_sha256)

echo "== Programming the packaged simulator"
"$bin/moravent-unitsim" --exit-after-finish --dump "$work/flash.bin" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
port=
for _ in $(seq 50); do
  port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the simulator did not start: $(cat "$work/sim.err")"
last=$("$work/demo-cli" --port "$port" --no-progress < /dev/null | tail -n 1)
[ "$last" = "Unit Successfully Programmed!" ] || fail "programming ended with: $last"
wait "$sim_pid"
sim_pid=
dumped=$(head -c "$image_length" "$work/flash.bin" | sha256sum | cut -d' ' -f1)
[ "$dumped" = "$image_sha" ] || fail "the unit's flash differs from the image"
echo "== The packaged programs programmed the unit ($image_length bytes, sha256 $image_sha)"
