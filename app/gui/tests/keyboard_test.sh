#!/usr/bin/env bash
# Drives the tallimo window from the keyboard on an X server (run under
# xvfb-run): the accelerators switch the screens, start posting and answer
# its message, and File > Exit ends the program. Checks the window's size
# after each switch and the scanner database after the posting.
#
#   keyboard_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config TALLIMO_REGISTRY_DIR=$work/registry QT_QPA_PLATFORM=xcb
shop=$work/shop
"$build/tools/tallimo-cli/tallimo-cli" demo "$shop" >/dev/null
rows() { "$build/tools/jetsql/jetsql" "$shop/POS_Scanner.MDB" --export Scanner_Data | tail -n +2 | wc -l; }
before=$(rows)

"$build/app/gui/tallimo" --home "$shop" --products "$shop/products.mdb" &
pid=$!
# A window that never appears (the program failed to start) fails the test
# within a minute instead of waiting for ever.
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tallimo$' | head -1 || true)
[ -n "$win" ] || { echo "FAIL: the Tallimo window did not appear" >&2; exit 1; }
height() { xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p'; }
key() {
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  xdotool key --clearmodifiers "$@"
  sleep 0.5
}
fail() { echo "FAIL: $*" >&2; exit 1; }
# Polls `test` (a shell command) every 0.2 s for up to `seconds`, so a busy
# machine gets the time it needs and an idle one does not wait for nothing.
within() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do
    eval "$*" && return 0
    sleep 0.2
  done
  eval "$*"
}
message_box() { xdotool search --onlyvisible --name '^Tallimo$' | grep -v "^$win\$" | head -1 || true; }

sleep 1
standard=$(height)
echo "standard screen height: $standard"
key alt+a
within 20 '[ "$(height)" -gt "$standard" ]' || true
advanced=$(height)
echo "advanced screen height (Alt+A): $advanced"
[ "$advanced" -gt "$standard" ] || fail "Alt+A did not open the advanced screen ($standard -> $advanced)"

# Alt+P: "&Process/Post". The demo leaves records behind, so posting ends
# with the "Not all the Items Scanned ..." box; Return answers it.
key alt+p
within 60 '[ -n "$(message_box)" ]' || fail "no message box after Alt+P"
box=$(message_box)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
within 20 '[ -z "$(message_box)" ]' || fail "Return did not close the message box"
after=$(rows)
echo "Scanner_Data rows: $before before posting, $after after"
[ "$after" -lt "$before" ] && [ "$after" -gt 0 ] || fail "posting from the keyboard did not post ($before -> $after)"

# The menu item "&Hide Advanced Screen" from the keyboard: Alt+A opens the
# "&Advanced" menu when the button's caption is "Standard".
key alt+a
key h
within 20 '[ "$(height)" -eq "$standard" ]' || true
back=$(height)
echo "height after Advanced > Hide Advanced Screen: $back"
[ "$back" -eq "$standard" ] || fail "the menu did not return to the standard screen ($back)"

# File > Exit ends the program.
key alt+f
key x
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then fail "File > Exit did not end the program"; fi
wait "$pid" || fail "the program ended with status $?"
echo "PASS"
