#!/usr/bin/env bash
# A throw-away PostgreSQL server for tests and benchmarks: "start DIR" creates it in DIR when
# needed, starts it listening on a Unix socket in DIR only, and prints the libpq keywords that
# reach it; "stop DIR" stops it at once. Run as root, the server runs as nobody (it refuses
# root). Exits 3 when no PostgreSQL server is installed. Commits skip the disk's flush unless
# PG_SCRATCH_DURABLE=1 (benchmarks measure what a real server costs).
set -euo pipefail
command=${1:?start or stop}
dir=${2:?folder}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "PostgreSQL server not installed (Debian package postgresql)" >&2
  exit 3
fi
as=()
if [ "$(id -u)" -eq 0 ]; then
  as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
case $command in
start)
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    mkdir -p "$dir"
    [ ${#as[@]} -eq 0 ] || chown nobody:nogroup "$dir"
    chmod 700 "$dir"
    (cd "$dir" && "${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres --no-sync -E UTF8 >"$dir/initdb.log")
  fi
  options="-k $dir -c listen_addresses=''"
  # Without the flush, but never without the WAL write: the tests stop it with -m immediate.
  [ "${PG_SCRATCH_DURABLE:-0}" = 1 ] || options+=" -c fsync=off"
  (cd "$dir" && "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -o "$options" start >/dev/null)
  echo "host=$dir user=postgres dbname=postgres"
  ;;
stop)
  (cd "$dir" && "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1) || true
  ;;
*)
  echo "usage: pg-scratch-server.sh start|stop DIR" >&2
  exit 2
  ;;
esac
