#!/usr/bin/env bash
# What a person meets on a desktop when things go wrong, tried as a person would: the real program
# under Xvfb with the openbox window manager, run by a user who is not root (root ignores file
# permissions), every dialog answered with keys.
#   1. An image in a read-only folder: closing the canvas says the file cannot be written; Escape
#      keeps painting; the next close's default answer saves the painting under another name.
#   2. SIGTERM while that message is open ends the program at once, keeping a copy that --recover
#      finds, every time (ten runs).
#   3. An error that ends the program ("Get paper" after the paper file was deleted): Return
#      dismisses the error box and the program ends with status 1, a copy kept.
#   4. The file's size changed elsewhere: closing asks; Yes closes without writing, keeps a copy of
#      the painting and ends with status 1.
#   5. Headless, a replay onto the read-only folder ends with status 1, and --recover brings the
#      painting back.
#   6. A painting killed and declined (No) while the next run paints and writes the file: the next
#      start says the file changed; opened as it was, closing asks before overwriting (Escape keeps
#      painting, the file stays), and so again once that run is killed in turn.
#   7. The file changed elsewhere (same size) while the canvas is open: closing asks, and Return
#      paints the session's strokes onto the file as it is now: it then holds what the recorded
#      strokes paint over the other program's picture, pixel for pixel.
# Usage: desktop_test.sh TARVO. Exits 77 (skipped) without Xvfb, openbox, xdotool, x11-utils or
# ffmpeg.
set -euo pipefail
tarvo="$1"
work="$(mktemp -d)"
chmod 755 "$work"
pids=()
cleanup() {
  pkill -9 -f "$work/tarvo" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The program runs as a user who is not root; as root, a system user made for the purpose.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  user=tarvo-desktop-test
  id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  as_user=(runuser -u "$user" --)
  chown "$user" "$work"
fi
cp "$tarvo" "$work/tarvo"
# Each case has a recovery folder of its own.
state="$work/state1"
run() { "${as_user[@]}" env HOME="$work" XDG_STATE_HOME="$state" DISPLAY="${DISPLAY:-}" "$@"; }

screen_size=1280x800
source "$(dirname "$0")/../support/end_processes.sh"
source "$(dirname "$0")/../support/openbox_session.sh"

fail() {
  echo "FAILED: $*"
  echo "The program said:"
  cat "$work/out.log" 2>/dev/null || true
  exit 1
}
# The id of a visible window whose name matches $1, waiting for it up to 20 s.
# (A search can fail on a window that goes as it looks, such as a closing menu: it is tried again.)
window() {
  local id
  for _ in $(seq 200); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)" || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
gone() { for _ in $(seq 100); do xdotool search --onlyvisible --name "$1" >/dev/null || return 0; sleep 0.1; done; return 1; }
# Starts the program on $1 (more arguments follow); its pid in tarvo_pid.
launch() {
  run "$work/tarvo" "$@" --no-tablet > "$work/out.log" 2>&1 &
  tarvo_pid=$!
  pids+=($tarvo_pid)
}
start() {
  launch "$@"
  canvas="$(window '^Tarvo 1.1')" || fail "no canvas window"
}
# Answers the question at start with key $2 (case $1), then waits for the canvas.
answer_at_start() {
  local question
  question="$(window '^[Tt]arvo$')" || fail "$1: no question at start"
  xdotool windowactivate --sync "$question" key "$2"
  canvas="$(window '^Tarvo 1.1')" || fail "$1: no canvas after the question"
}
paint() {
  xdotool mousemove --window "$canvas" 40 60 mousedown 1
  for x in 60 80 100 120 140; do xdotool mousemove --window "$canvas" "$x" 80; sleep 0.05; done
  xdotool mouseup 1
}
close_canvas() { xdotool windowactivate --sync "$canvas" key --clearmodifiers alt+F4; }
# Waits for the program to end; its status in status.
ends() {
  for _ in $(seq 150); do kill -0 "$tarvo_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$tarvo_pid" 2>/dev/null && fail "$1: the program did not end"
  status=0
  wait "$tarvo_pid" || status=$?
}
copies() { ls "$state/tarvo/recovery/"*.png 2>/dev/null | grep -vc -- -journal-base || true; }

mkdir "$work/ro"
echo "Form_Unload" > "$work/close.tvs"
chmod 644 "$work/close.tvs"
[ "$(id -u)" -eq 0 ] && chown "$user" "$work/ro"
run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/ro/pic.png" --size 200x150 \
  --replay "$work/close.tvs" 2>/dev/null
chmod 555 "$work/ro"
original="$(sha1sum < "$work/ro/pic.png")"

# 1. The read-only folder.
start "$work/ro/pic.png"
paint
close_canvas
message="$(window '^[Tt]arvo$')" || fail "1: no message that the file cannot be written"
xdotool windowactivate --sync "$message" key Escape
gone '^[Tt]arvo$' || fail "1: Escape did not dismiss the message"
kill -0 "$tarvo_pid" 2>/dev/null || fail "1: the canvas did not stay open"
close_canvas
message="$(window '^[Tt]arvo$')" || fail "1: no message at the second close"
xdotool windowactivate --sync "$message" key Return
dialog="$(window 'Save the painting as')" || fail "1: no file dialog"
xdotool windowactivate --sync "$dialog" type --delay 20 "$work/saved.png"
xdotool key Return
ends 1
[ "$status" -eq 0 ] || fail "1: status $status after saving elsewhere"
[ -s "$work/saved.png" ] || fail "1: saved.png was not written"
[ "$(sha1sum < "$work/ro/pic.png")" = "$original" ] || fail "1: the read-only file changed"
echo "ok 1: read-only folder, kept painting, then saved elsewhere"

# 2. SIGTERM with the message open, ten times: every time the painting is there to recover.
for run_number in $(seq 10); do
  state="$work/state2-$run_number"
  start "$work/ro/pic.png"
  paint
  close_canvas
  window '^[Tt]arvo$' >/dev/null || fail "2: no message"
  pkill -TERM -f "^$work/tarvo"  # the program itself, not the runuser around it
  ends 2
  [ "$status" -ne 0 ] || fail "2: status 0 although nothing was written"
  # One copy a painting: the one kept at the refused close, or the one that replaced it.
  [ "$(copies)" -eq 1 ] || { ls -l "$state/tarvo/recovery/"; fail "2: $(copies) copies of the painting kept, not one"; }
  status=0
  run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/ro/pic.png" --recover \
    --out "$work/rec.png" > "$work/out.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "2: run $run_number: status $status recovering after SIGTERM"
done
echo "ok 2: SIGTERM with a dialog open, ten runs, each recovered"

# 3. An error that ends the program.
state="$work/state3"
"${as_user[@]}" cp "$work/saved.png" "$work/paper.png"
start "$work/other.png" --paper "$work/paper.png"
rm -f "$work/paper.png"
paint
xdotool mousemove --window "$canvas" 25 10 click 1  # the "Options" menu
sleep 0.5
xdotool key Down Return                               # "Get paper"
box="$(window '^[Tt]arvo$')" || fail "3: no error box"
xdotool windowactivate --sync "$box" key Return
ends 3
[ "$status" -eq 1 ] || fail "3: status $status, not 1"
grep -q "Run-time error" "$work/out.log" || fail "3: no error reported"
[ "$(copies)" -ge 1 ] || fail "3: no copy kept"
echo "ok 3: the error box answers Return and the program ends"

# 4. The size changed by another program.
state="$work/state4"
start "$work/other.png"
paint
"${as_user[@]}" cp "$work/saved.png" "$work/other.png"  # 200 x 150, the canvas is 1024 x 768
close_canvas
question="$(window '^[Tt]arvo$')" || fail "4: no question"
xdotool windowactivate --sync "$question" key alt+y
ends 4
[ "$status" -eq 1 ] || fail "4: status $status, not 1"
[ "$(copies)" -ge 1 ] || fail "4: no copy kept"
echo "ok 4: closed without writing, a copy kept"

# 5. Headless.
state="$work/state5"
printf '%s\n' "Form_Resize 200 150" "Form_MouseDown 1 0 20 20" "Form_MouseMove 1 0 60 40" \
  "Form_MouseMove 1 0 90 70" "Form_MouseMove 1 0 120 90" "Form_MouseUp 1 0 120 90" \
  "Form_Unload" > "$work/paint.tvs"
chmod 644 "$work/paint.tvs"
status=0
run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/ro/pic.png" --replay "$work/paint.tvs" \
  > "$work/out.log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "5: status $status for a replay that could not write"
status=0
run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/ro/pic.png" --recover --out "$work/rec.png" \
  > "$work/out.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "5: --recover did not recover"
[ "$(sha1sum < "$work/ro/pic.png")" = "$original" ] || fail "5: the read-only file changed"
echo "ok 5: headless, not written, then recovered"

# 6. The file written since a kept painting began.
state="$work/state6"
run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/rec.png" --size 200x150 \
  --replay "$work/close.tvs" 2>/dev/null
start "$work/rec.png"
paint
sleep 1.5  # the journal has the stroke within a second
pkill -KILL -f "^$work/tarvo"
ends 6
launch "$work/rec.png"
answer_at_start 6 Escape  # No: kept for later
xdotool mousemove --window "$canvas" 60 120 mousedown 1
for y in 110 100 90 80; do xdotool mousemove --window "$canvas" 150 "$y"; sleep 0.05; done
xdotool mouseup 1
close_canvas
ends 6
[ "$status" -eq 0 ] || fail "6: status $status for the second painting"
saved="$(sha1sum < "$work/rec.png")"
for round in 1 2; do
  launch "$work/rec.png"
  answer_at_start 6 alt+o  # Open As It Was
  close_canvas
  overwrite="$(window '^[Tt]arvo$')" || fail "6.$round: closing over the changed file did not ask"
  xdotool windowactivate --sync "$overwrite" key Escape  # Keep Painting
  gone '^[Tt]arvo$' || fail "6.$round: Escape did not dismiss the question"
  kill -0 "$tarvo_pid" 2>/dev/null || fail "6.$round: the canvas did not stay open"
  sleep 1  # the recovered run's journal is on disk
  pkill -KILL -f "^$work/tarvo"
  ends 6
  [ "$(sha1sum < "$work/rec.png")" = "$saved" ] || fail "6.$round: the second painting was lost"
done
echo "ok 6: a file written since the painting began is not overwritten without asking"

# 7. The file changed elsewhere while the canvas is open; the strokes go onto it as it is now.
state="$work/state7"
run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/mine.png" --size 200x150 \
  --replay "$work/close.tvs" 2>/dev/null
start "$work/mine.png" --record "$work/strokes.tvs"
paint
"${as_user[@]}" cp "$work/saved.png" "$work/mine.png"  # 200 x 150, painted in case 1
close_canvas
question="$(window '^[Tt]arvo$')" || fail "7: closing over the changed file did not ask"
xdotool windowactivate --sync "$question" key Return  # Paint onto the File
ends 7
[ "$status" -eq 0 ] || fail "7: status $status after painting onto the file"
run env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/saved.png" --replay "$work/strokes.tvs" \
  --out "$work/onto.png" > "$work/out.log" 2>&1 || fail "7: the recorded strokes do not replay"
pixels() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt rgb24 - | sha1sum; }
[ "$(pixels "$work/mine.png")" = "$(pixels "$work/onto.png")" ] ||
  fail "7: the file does not hold the strokes painted onto the other program's picture"
[ "$(pixels "$work/mine.png")" != "$(pixels "$work/saved.png")" ] || fail "7: nothing was painted"
echo "ok 7: a file changed while the canvas is open gets the strokes painted onto it"
echo "7 passed, 0 failed"
