#!/usr/bin/env bash
# The plug-in as a GIMP user starts it: GIMP's own window under Xvfb opens an image and runs
# plug-in-tarvo interactively; a pointer drag paints on the canvas, which is then killed with
# SIGKILL. GIMP is started again on the image, the plug-in offers the painting that was not saved,
# the answer is Yes, the canvas closes, and GIMP finds the paint in the layer. Then GIMP is killed
# while a canvas is open: the canvas lives on, and GIMP started again on the image asks to take
# that canvas over; Return closes it, keeping its painting, which is offered at once. A painting
# kept for a layer GIMP scaled since is said to have another size and never painted onto it. Usage:
# gimp_interactive_test.sh PLUG-IN TARVO [GIMP-VERSION], the version 2 (GIMP 2.10, the default) or
# 3. Exits 77 (skipped) without Xvfb, xdotool or that GIMP.
set -euo pipefail
plugin="$1"
tarvo="$2"
version="${3:-2}"
source "$(dirname "$0")/gimp_version.sh"
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done

work="$(mktemp -d)"
pids=()
source "$(dirname "$0")/../support/end_processes.sh"
cleanup() {
  end_processes "${pids[@]}" $(pgrep -f "$work/profile/plug-ins" || true)
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/profile/plug-ins/tarvo-gimp"
cp "$plugin" "$work/profile/plug-ins/tarvo-gimp/tarvo-gimp"
# A white image of 300 x 200 pixels, made by the stand-alone program.
echo "Form_Unload" > "$work/close.tvs"
QT_QPA_PLATFORM=offscreen "$tarvo" "$work/white.png" --size 300x200 --replay "$work/close.tvs" \
  2>/dev/null

# -noreset: without it the server resets when its first client leaves, and the next one fails.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
start_session_bus "$work/session-bus"
# The recovery folder, the painting history and the settings are the test's own.
export "$profile_variable=$work/profile" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" \
  XDG_CONFIG_HOME="$work/config"
unset QT_QPA_PLATFORM  # the canvas opens on the X server, as for a user
# Under AddressSanitizer, Qt's X11 start-up reads strings in libxkbcommon-x11 that the strict
# string checks flag; every other check stays on.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0"

# Starts GIMP on the white image with the plug-in run interactively, after the Scheme $2 when
# given; GIMP says the layer's mean value once the plug-in has returned (whether or not it wrote
# the layer), and quits.
start_gimp() {
  local before="${2:-}"
  if [ "$version" = 3 ]; then
    # GIMP 3 passes an image procedure its drawables as a vector.
    gimp-3.0 -d -f -s --quit --batch-interpreter=plug-in-script-fu-eval -b "(let* (
          (image (car (gimp-file-load RUN-NONINTERACTIVE \"$work/white.png\")))
          (layer (vector-ref (car (gimp-image-get-selected-layers image)) 0)))
      (gimp-message-set-handler CONSOLE)
      (gimp-display-new image)
      $before
      (catch #f (plug-in-tarvo RUN-INTERACTIVE image (vector layer) \"\"))
      (gimp-message (string-append \"tarvo-interactive mean \"
        (number->string (car (gimp-drawable-histogram layer HISTOGRAM-VALUE 0.0 1.0))))))" \
      > "$work/gimp$1.log" 2>&1 &
  else
    gimp-2.10 -d -f -s -b "(let* ((image (car (file-png-load RUN-NONINTERACTIVE \"$work/white.png\" \"w\")))
          (layer (car (gimp-image-get-active-drawable image))))
      (gimp-message-set-handler CONSOLE)
      (gimp-display-new image)
      $before
      (catch #f (plug-in-tarvo RUN-INTERACTIVE image layer \"\"))
      (gimp-message (string-append \"tarvo-interactive mean \"
        (number->string (car (gimp-drawable-histogram layer HISTOGRAM-VALUE 0.0 1.0))))))" \
      -b "(gimp-quit 1)" > "$work/gimp$1.log" 2>&1 &
  fi
  gimp=$!
  pids+=($gimp)
}

# Waits for a window whose name matches $1 (up to two minutes: a sanitizer build on a loaded machine
# is slow to start); its id in window.
wait_for_window() {
  window=""
  for _ in $(seq 240); do
    window="$(xdotool search --name "$1" 2>/dev/null | tail -n1 || true)"
    [ -n "$window" ] && return 0
    sleep 0.5
  done
  echo "no window \"$1\" opened; GIMP said:"; cat "$work"/gimp*.log
  show_processes "$work/profile/plug-ins"
  exit 1
}

# Answers the visible message box or question named "tarvo" with Return.
answer_box() {
  local box=""
  for _ in $(seq 120); do
    box="$(xdotool search --onlyvisible --name '^tarvo$' 2>/dev/null | tail -n1 || true)"
    [ -n "$box" ] && break
    sleep 0.5
  done
  [ -n "$box" ] || { echo "no $1 box opened; GIMP said:"; cat "$work"/gimp*.log; exit 1; }
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$box")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) key Return
  for _ in $(seq 20); do xdotool getwindowname "$box" >/dev/null 2>&1 || break; sleep 0.25; done
  sleep 1
}

wait_for_gimp() {
  for _ in $(seq 120); do kill -0 "$gimp" 2>/dev/null || return 0; sleep 0.5; done
  echo "GIMP did not finish"; cat "$work"/gimp*.log; exit 1
}

canvas_process() {
  ps -eo pid=,pgid=,args= | awk -v p="$work/profile/plug-ins" '$1 == $2 && index($0, p) {print $1}'
}

# A straight stroke of 160 pixels, 40 pixels in from the canvas's left and $1 down, then the time
# the journal takes to reach the disk (at the stroke's end, and at least once a second).
paint_stroke() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + 40)) $((Y + $1)) mousedown 1
  for step in $(seq 0 4 160); do xdotool mousemove $((X + 40 + step)) $((Y + $1)); done
  xdotool mouseup 1
  sleep 1.5
}

# First session: a stroke, then the canvas is killed outright. The session journal keeps it.
start_gimp 1
wait_for_window 'Tarvo 1.1'
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 30)) $((Y + 60)) mousedown 1
for step in $(seq 0 4 200); do xdotool mousemove $((X + 30 + step)) $((Y + 60 + step / 3)); done
xdotool mouseup 1
sleep 1.5  # the journal reaches the disk at the stroke's end, and at least once a second
kill -KILL "$(canvas_process)"
wait_for_gimp

# Second session: "Recover the painting that was not saved?" Yes, then the canvas closes (SIGTERM
# closes it as the user does, write-back included) and GIMP finds the stroke in the layer.
start_gimp 2
question=""
for _ in $(seq 120); do
  question="$(xdotool search --onlyvisible --name '^tarvo$' 2>/dev/null | tail -n1 || true)"
  [ -n "$question" ] && break
  [ -n "$(xdotool search --name 'Tarvo 1.1' 2>/dev/null)" ] && break
  sleep 0.5
done
sleep 1
if [ -n "$question" ]; then
  eval "$(xdotool getwindowgeometry --shell "$question")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) key Return
fi
wait_for_window 'Tarvo 1.1'
sleep 1
kill -TERM "$(canvas_process)"
wait_for_gimp
cp "$work/gimp2.log" "$work/gimp.log"
grep -q "tarvo: recovering the session journal" "$work/gimp.log" || {
  echo "the journal was not recovered; GIMP said:"; cat "$work"/gimp*.log; exit 1
}

mean="$(sed -n 's/.*tarvo-interactive mean \([0-9.]*\).*/\1/p' "$work/gimp.log")"
echo "mean value of the layer after painting: $mean (white is 255)"
if [ -z "$mean" ] || awk -v m="$mean" 'BEGIN { exit !(m >= 254.99) }'; then
  echo "the layer holds no paint; GIMP said:"; cat "$work/gimp.log"; exit 1
fi

# Third session: GIMP ends with a canvas open on the image, which stays open and says so.
start_gimp 3
wait_for_window 'Tarvo 1.1'
sleep 1
paint_stroke 120
old_canvas="$(canvas_process)"
kill -KILL "$gimp"
wait_for_gimp
answer_box "GIMP has quit"
kill -0 "$old_canvas" 2>/dev/null || { echo "the canvas ended with its GIMP"; exit 1; }

# GIMP again on the image: take that canvas over (Return), and recover its painting (Return).
start_gimp 4
answer_box "take-over"
answer_box "recovery"
kill -0 "$old_canvas" 2>/dev/null && { echo "the old canvas did not close"; cat "$work/gimp4.log"; exit 1; }
wait_for_window 'Tarvo 1.1'
sleep 1
kill -TERM "$(canvas_process)"
wait_for_gimp
grep -q "tarvo: recovering" "$work/gimp4.log" || {
  echo "the old canvas's painting was not recovered; GIMP said:"; cat "$work/gimp4.log"; exit 1
}
mean="$(sed -n 's/.*tarvo-interactive mean \([0-9.]*\).*/\1/p' "$work/gimp4.log")"
if [ -z "$mean" ] || awk -v m="$mean" 'BEGIN { exit !(m >= 254.99) }'; then
  echo "the taken-over painting is not in the layer; GIMP said:"; cat "$work/gimp4.log"; exit 1
fi
echo "a canvas whose GIMP ended was taken over and its painting recovered (mean $mean)"

# A painting kept (the canvas killed), then the image scaled to half in GIMP: recovery says the
# painting has another size, opens it at its own, and never paints it onto the layer; closed on a
# signal, nothing is written and the painting stays kept, whole.
start_gimp 5
wait_for_window 'Tarvo 1.1'
sleep 1
paint_stroke 80
kill -KILL "$(canvas_process)"
wait_for_gimp
rm -f "$work"/state/tarvo/recovery/*.png "$work"/state/tarvo/recovery/*.ppm
start_gimp 6 "(gimp-image-scale image 150 100)"
answer_box "recovery"
answer_box "other size"
wait_for_window 'Tarvo 1.1'
sleep 1
kill -TERM "$(canvas_process)"
wait_for_gimp
grep -q "so Tarvo does not paint it onto the layer" "$work/gimp6.log" || {
  echo "recovery did not say the painting has another size; GIMP said:"; cat "$work/gimp6.log"; exit 1
}
mean="$(sed -n 's/.*tarvo-interactive mean \([0-9.]*\).*/\1/p' "$work/gimp6.log")"
awk -v m="$mean" 'BEGIN { exit !(m >= 254.99) }' || {
  echo "the painting went onto the scaled layer (mean $mean)"; exit 1
}
kept="$(ls "$work"/state/tarvo/recovery/*.png 2>/dev/null | head -n1)"
[ -n "$kept" ] && [ "$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$kept")" = 300,200 ] || {
  echo "the painting was not kept whole: $(ls "$work"/state/tarvo/recovery)"; exit 1
}
echo "a kept painting of another size than the layer was said so and kept whole"
