#!/usr/bin/env bash
# The user manual renders from its Markdown source with the screenshots the
# screenshot test took: a PDF of several pages whose text covers every screen
# and the posting rule of each transaction kind, with the pictures in it.
#
#   manual_test.sh MAKE_MANUAL SOURCE.md SCREENSHOTS_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pdf="$work/Tallimo Manual/Tallimo Manual.pdf"
"$1" "$2" "$3" "$pdf" 2>"$work/err" >/dev/null
if grep -q "not found" "$work/err"; then cat "$work/err" >&2; echo "FAIL: a picture is missing" >&2; exit 1; fi
pages=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
[ "$pages" -ge 4 ] || { echo "FAIL: $pages pages" >&2; exit 1; }
text=$(pdftotext "$pdf" -)
for phrase in "The standard screen" "The advanced screen" "The record editor" "Preferences" "About Tallimo" \
              "Add New Item" "Edit Products" "Add to Inventory" "Subtract Inventory" "Replace Inventory" \
              "Compare Inventory" "Processing - Complete"; do
  grep -qF "$phrase" <<<"$text" || { echo "FAIL: the manual does not mention \"$phrase\"" >&2; exit 1; }
done
images=$(pdfimages -list "$pdf" | tail -n +3 | wc -l)
[ "$images" -ge 5 ] || { echo "FAIL: $images pictures in the manual" >&2; exit 1; }
echo "PASS: $pages pages, $images pictures"
