#!/usr/bin/env bash
# check-man-pages.sh MANDIR VERSION PROGRAM... : every page renders without a warning and
# has the sections a reader looks for; each program's page has an entry for every option
# (for moravent-job also every job key) of its --help, and --version says NAME VERSION.
set -uo pipefail
mandir=$1 version=$2
shift 2
failed=0
fail() {
  echo "$*" >&2
  failed=1
}

for page in "$mandir"/*.1; do
  warnings=$(groff -ww -z -man "$page" 2>&1) || fail "$page: groff failed"
  [ -z "$warnings" ] || fail "$page: $warnings"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -q "^\.SH \"\{0,1\}$section\"\{0,1\}$" "$page" || fail "$page: no $section section"
  done
done

# The tags of a page's lists (options, job keys) as a reader sees them, on lines too long
# to be broken: "       -o, --output OUT".
tags() { groff -man -Tascii -P-cbou -rLL=400n "$1" 2>/dev/null | grep -E '^ {7}[^ ]'; }

for program in "$@"; do
  name=$(basename "$program")
  page="$mandir/$name.1"
  [ -f "$page" ] || { fail "$name: no manual page"; continue; }
  out=$("$program" --version)
  [ "$out" = "$name $version" ] || fail "$name --version: '$out', expected '$name $version'"
  help=$("$program" --help)
  text=$(tags "$page")
  words=$(grep -oE -- '(^|[ [|])--?[a-z][a-z0-9-]*' <<<"$help" | grep -oE -- '-.*' | sort -u)
  if [ "$name" = moravent-job ]; then
    words+=$'\n'$(sed -n '/^Job file keys/,$p' <<<"$help" | grep -oE '^  [a-z_]+(, [a-z_]+)*' | tr -d ' ' | tr ',' '\n')
  fi
  for word in $words; do
    grep -qE -- "^ {7}([^ ,]+( [^ ,]+)?, )*$word( |,|$)" <<<"$text" ||
      fail "$page: has no entry for $word, which $name --help lists"
  done
done
exit $failed
