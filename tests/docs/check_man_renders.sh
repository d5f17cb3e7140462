#!/usr/bin/env bash
# Renders the manual page as groff and man(1) do for a reader, with warnings
# enabled, and fails on any warning, on a missing section, or on a line too
# wide for an 80-column terminal.
# Usage: check_man_renders.sh MAN_PAGE
set -euo pipefail
page=$1
status=0
fail() { echo "FAIL: $*"; status=1; }

warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "groff warns:"$'\n'"$warnings"

rendered=$(mktemp)
trap 'rm -f "$rendered"' EXIT
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$rendered")
[ -z "$warnings" ] || fail "man warns:"$'\n'"$warnings"

for section in NAME SYNOPSIS DESCRIPTION OPTIONS DIAGNOSTICS "EXIT STATUS" EXAMPLES; do
  grep -qx "$section" "$rendered" || fail "no $section section"
done
wide=$(awk 'length($0) > 80 { print NR": "$0 }' "$rendered")
[ -z "$wide" ] || fail "lines wider than 80 columns:"$'\n'"$wide"

[ $status -eq 0 ] && echo "$(basename "$page") renders without warnings ($(wc -l <"$rendered") lines)"
exit $status
