#!/usr/bin/env bash
# The canvas and the tools panel under a real window manager (openbox, under Xvfb), as a user sees
# them. A 4032 x 3024 photo on a 1600 x 1000 screen with a 40-pixel panel reserved at its bottom:
# both frames, title bars included, lie in the work area, and the tools panel stays above the
# canvas at start, after a click on the canvas and after the canvas is maximised. On a screen
# scaled by 2, a stroke is recorded in odd device pixels too. Usage: window_manager_test.sh TARVO.
# Exits 77 (skipped) without Xvfb, openbox, xdotool or xprop.
set -euo pipefail
tarvo="$1"
source "$(dirname "$0")/../support/end_processes.sh"
scratch_folder
source "$(dirname "$0")/../support/openbox_session.sh"
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"

fail() { echo "FAIL: $*"; cat "$work"/tarvo*.log 2>/dev/null; exit 1; }

echo "Form_Unload" > "$work/close.tvs"
QT_QPA_PLATFORM=offscreen "$tarvo" "$work/big.png" --size 4032x3024 --replay "$work/close.tvs" 2>/dev/null
QT_QPA_PLATFORM=offscreen "$tarvo" "$work/small.png" --size 300x200 --replay "$work/close.tvs" 2>/dev/null
QT_QPA_PLATFORM=offscreen "$tarvo" "$work/medium.png" --size 1024x768 --replay "$work/close.tvs" 2>/dev/null

# Where the work area has room beside the canvas, the panel lies beside it, covering none of the
# image, and its client area is the panel's own 141 x 490.
"$tarvo" "$work/medium.png" > "$work/tarvo-medium.log" 2>&1 &
medium=$!
pids+=($medium)
canvas="$(wait_for_window 'Spline based paint engine')"
panel="$(wait_for_window '^Tarvo Tools$')"
apart() {
  read -r ax ay aw ah < <(frame_of "$canvas")
  read -r bx by bw bh < <(frame_of "$panel")
  [ $((bx + bw)) -le "$ax" ] || [ "$bx" -ge $((ax + aw)) ] || [ $((by + bh)) -le "$ay" ] ||
    [ "$by" -ge $((ay + ah)) ]
}
eventually apart || fail "the panel $(frame_of "$panel") covers the canvas $(frame_of "$canvas")"
read -r _ _ pw ph < <(client_of "$panel")
[ "$pw" -eq 141 ] && [ "$ph" -eq 490 ] || fail "the panel's client area is $pw x $ph, not 141 x 490"
end_processes "$medium"

"$tarvo" "$work/big.png" > "$work/tarvo-big.log" 2>&1 &
big=$!
pids+=($big)
canvas="$(wait_for_window 'Spline based paint engine')"
panel="$(wait_for_window '^Tarvo Tools$')"
eventually frame_in_work_area "$canvas" || fail "the canvas's frame $(frame_of "$canvas") is outside the work area $(work_area)"
eventually frame_in_work_area "$panel" || fail "the panel's frame $(frame_of "$panel") is outside the work area $(work_area)"
eventually stacked_above "$panel" "$canvas" || fail "the panel is below the canvas at start"

read -r cx cy cw ch < <(client_of "$canvas")
xdotool mousemove $((cx + 200)) $((cy + 300)) click 1
sleep 0.5
stacked_above "$panel" "$canvas" || fail "a click on the canvas put the panel below it"

xdotool windowactivate --sync "$canvas" key alt+F10
for _ in $(seq 20); do
  xprop -id "$canvas" _NET_WM_STATE | grep -q MAXIMIZED_VERT && break
  sleep 0.1
done
xprop -id "$canvas" _NET_WM_STATE | grep -q MAXIMIZED_VERT || fail "the canvas did not maximise"
sleep 0.5
stacked_above "$panel" "$canvas" || fail "maximising the canvas put the panel below it"
# Some window managers put a maximised window's borders beyond the screen's edge (icewm does): what
# must lie in the work area is its client area.
read -r mx my mw mh < <(client_of "$canvas")
read -r ax ay aw ah < <(work_area)
[ "$mx" -ge "$ax" ] && [ "$my" -ge "$ay" ] && [ $((mx + mw)) -le $((ax + aw)) ] &&
  [ $((my + mh)) -le $((ay + ah)) ] ||
  fail "the maximised canvas's client area $mx $my $mw $mh leaves the work area $(work_area)"

# On a screen scaled by 2 the pointer moves one device pixel at a time, and the recording keeps
# every one of them.
kill "$big"
for _ in $(seq 40); do xwininfo -id "$canvas" >/dev/null 2>&1 || break; sleep 0.25; done
QT_SCALE_FACTOR=2 "$tarvo" "$work/small.png" --record "$work/scaled.tvs" > "$work/tarvo-scaled.log" 2>&1 &
pids+=($!)
scaled="$(wait_for_window 'Spline based paint engine')"
sleep 0.5
read -r sx sy sw sh < <(client_of "$scaled")
x=$((sx + 41)) y=$((sy + sh - 61))
xdotool windowactivate --sync "$scaled" mousemove "$x" "$y" mousedown 1
for i in 1 2 3 4 5 6; do xdotool mousemove $((x + i)) $((y + i)); sleep 0.05; done
xdotool mouseup 1
eventually grep -q '^Form_MouseMove 1 ' "$work/scaled.tvs" || fail "no stroke was recorded at scale 2"
awk '$1 == "Form_MouseMove" && $2 == 1 && ($4 % 2 == 1 || $5 % 2 == 1) {odd = 1} END {exit !odd}' \
  "$work/scaled.tvs" || fail "the stroke at scale 2 has only even device pixels: $(grep Form_Mouse "$work/scaled.tvs")"
echo "passed"
