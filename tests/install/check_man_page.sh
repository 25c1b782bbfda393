#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A manual page a user can learn the program from: it has the sections a
# reader looks for, and its OPTIONS section names every option that the
# program's --help lists.
# usage: check_man_page.sh PROGRAM PAGE.1.gz
set -euo pipefail
program=$1 page=$2

# Wide, unhyphenated and unjustified, so that no option is broken up.
text=$(MANWIDTH=200 man --nh --nj -l "$page" 2>/dev/null | col -b)
fail=0
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
  grep -qx "$section" <<<"$text" || { echo "FAIL: no $section section in $page"; fail=1; }
done

# The option column of --help: each line that starts with up to six blanks
# (deeper ones continue a description) and a dash, up to the first gap of
# two blanks; every -x and --word in it.
options=$(QT_QPA_PLATFORM=offscreen "$program" --help |
  sed -n 's/^ \{1,6\}\(-[^ ].*\)$/\1/p' | sed 's/  .*//' |
  grep -oE -- '--?[A-Za-z][A-Za-z0-9-]*' | sort -u)
[ -n "$options" ] || { echo "FAIL: no option found in $program --help"; exit 1; }
section=$(sed -n '/^OPTIONS$/,/^[A-Z][A-Z ]*$/p' <<<"$text")
for option in $options; do
  # Standing alone: followed by neither a letter, a digit nor a dash.
  grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|$)" <<<"$section" ||
    { echo "FAIL: $option of $program --help is not in the OPTIONS section of $page"; fail=1; }
done
if [ "$fail" -ne 0 ]; then exit 1; fi
echo "$page: every section, all $(wc -w <<<"$options") options of --help"
