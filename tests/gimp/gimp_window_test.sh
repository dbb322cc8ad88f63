#!/usr/bin/env bash
# The plug-in's windows beside GIMP's under a real window manager (openbox, under Xvfb): the canvas
# opens over GIMP's image, right of its docks and below its menu bar, the canvas and the tools panel stay above
# GIMP's window after a click on it, and the canvas closes by its close box as a user closes it.
# Then GIMP changes the layer between two sends: stroke A is sent, Ctrl+Z in GIMP takes it back,
# stroke B is painted and sent; Tarvo asks, Return paints the strokes since the last send onto the
# layer as GIMP holds it now, and the layer GIMP saves holds B alone, as the canvas then shows. The
# layer deleted in GIMP meanwhile is said to be deleted, and an undo in GIMP brings it back. The
# image scaled in GIMP: the painting can be saved whole as a file, and the stroke since the last
# send goes onto the layer at its new size, scaled.
# Usage: gimp_window_test.sh PLUG-IN TARVO [GIMP-VERSION], the version 2 (GIMP 2.10, the default)
# or 3. Exits 77 (skipped) without Xvfb, openbox, xdotool, xprop, ffmpeg or that GIMP.
set -euo pipefail
plugin="$1"
tarvo="$2"
version="${3:-2}"
source "$(dirname "$0")/gimp_version.sh"
source "$(dirname "$0")/../support/end_processes.sh"
scratch_folder
source "$(dirname "$0")/../support/openbox_session.sh"

mkdir -p "$work/profile/plug-ins/tarvo-gimp"
cp "$plugin" "$work/profile/plug-ins/tarvo-gimp/tarvo-gimp"
# GIMP 3 greets a new profile with a dialog of its own.
echo "(show-welcome-dialog no)" > "$work/profile/gimprc"
echo "Form_Unload" > "$work/close.tvs"
QT_QPA_PLATFORM=offscreen "$tarvo" "$work/white.png" --size 300x200 --replay "$work/close.tvs" \
  2>/dev/null
# The recovery folder, the painting history and the settings are the test's own.
export "$profile_variable=$work/profile" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" \
  XDG_CONFIG_HOME="$work/config"

fail() {
  echo "FAIL: $*"
  cat "$work/gimp.log"
  show_processes "$work/profile"
  exit 1
}

# GIMP shows the image; the plug-in is then started from GIMP's window, as a user starts it.
if [ "$version" = 3 ]; then
  gimp-3.0 -d -f -s --batch-interpreter=plug-in-script-fu-eval -b "(let* (
      (image (car (gimp-file-load RUN-NONINTERACTIVE \"$work/white.png\"))))
    (gimp-message-set-handler CONSOLE)
    (gimp-display-new image))" > "$work/gimp.log" 2>&1 &
else
  gimp-2.10 -d -f -s -b "(let* ((image (car (file-png-load RUN-NONINTERACTIVE \"$work/white.png\" \"w\"))))
    (gimp-message-set-handler CONSOLE)
    (gimp-display-new image))" > "$work/gimp.log" 2>&1 &
fi
gimp=$!
pids+=($gimp)
# The image window's title names the image's mode and size (GIMP 3 calls an image loaded by a script
# "[Untitled]").
image_window="$(wait_for_window 'RGB color.*300x200')" || fail "GIMP showed no image window"
sleep 2
# "/" searches GIMP's actions; Return runs the first that matches.
xdotool windowactivate --sync "$image_window" key slash
sleep 1
xdotool type --delay 50 "Tarvo Paint"
sleep 1
xdotool key Return

canvas="$(wait_for_window 'Tarvo 1.1')" || fail "no canvas"
panel="$(wait_for_window '^Tarvo Tools$')" || fail "no tools panel"
host="$(xprop -id "$canvas" WM_TRANSIENT_FOR | sed -n 's/.*# //p')"
[ -n "$host" ] || fail "the canvas is not transient for GIMP's window"
xprop -id "$host" WM_CLASS | grep -qi gimp || fail "the canvas is transient for $(xprop -id "$host" WM_CLASS)"
sleep 1

# GIMP's menu bar: the top of its image window's client area.
read -r hx hy hw hh < <(client_of "$host")
menu_bar="$hx $hy $hw 30"
apart "$menu_bar" "$(frame_of "$canvas")" || fail "the canvas $(frame_of "$canvas") covers GIMP's menu bar ($menu_bar)"
apart "$menu_bar" "$(frame_of "$panel")" || fail "the panel $(frame_of "$panel") covers GIMP's menu bar ($menu_bar)"
stacked_above "$canvas" "$host" || fail "the canvas is below GIMP's window at start"
# Over the image itself: a new profile shows GIMP's single window, whose docks at the left (the
# toolbox and the tool options) are 188 pixels wide at first.
read -r cx _ _ _ < <(frame_of "$canvas")
[ "$cx" -ge $((hx + 188)) ] || fail "the canvas (at x $cx) covers the docks at the left of GIMP's window (at x $hx)"

# A click on GIMP's window, where neither of ours lies (its status bar), raises it: ours stay above.
xdotool mousemove $((hx + 10)) $((hy + hh - 8)) click 1
sleep 0.5
stacked_above "$canvas" "$host" || fail "a click on GIMP put the canvas below GIMP's window"
stacked_above "$panel" "$canvas" || fail "a click on GIMP put the panel below the canvas"
apart "$menu_bar" "$(frame_of "$canvas")" || fail "the canvas covers GIMP's menu bar after the click"

xdotool windowactivate --sync "$canvas" key alt+F4
for _ in $(seq 60); do xwininfo -id "$canvas" >/dev/null 2>&1 || break; sleep 0.5; done
xwininfo -id "$canvas" >/dev/null 2>&1 && fail "the canvas did not close"
echo "ok: the canvas opens over GIMP's window and stays above it"
end_processes "$gimp"

# GIMP runs the plug-in on the image it shows, then saves the layer. A profile of its own: GIMP
# would offer to recover what the GIMP just ended had open.
mkdir -p "$work/profile2/plug-ins"
cp -r "$work/profile/plug-ins/tarvo-gimp" "$work/profile2/plug-ins/"
echo "(show-welcome-dialog no)" > "$work/profile2/gimprc"
export "$profile_variable=$work/profile2"
if [ "$version" = 3 ]; then
  gimp-3.0 -d -f -s --quit --batch-interpreter=plug-in-script-fu-eval -b "(let* (
      (image (car (gimp-file-load RUN-NONINTERACTIVE \"$work/white.png\")))
      (layer (vector-ref (car (gimp-image-get-selected-layers image)) 0)))
    (gimp-message-set-handler CONSOLE)
    (gimp-display-new image)
    (plug-in-tarvo RUN-INTERACTIVE image (vector layer) \"\")
    (gimp-file-save RUN-NONINTERACTIVE image \"$work/after.png\" -1))" > "$work/gimp.log" 2>&1 &
else
  gimp-2.10 -d -f -s -b "(let* ((image (car (file-png-load RUN-NONINTERACTIVE \"$work/white.png\" \"w\")))
      (layer (car (gimp-image-get-active-drawable image))))
    (gimp-message-set-handler CONSOLE)
    (gimp-display-new image)
    (plug-in-tarvo RUN-INTERACTIVE image layer \"\")
    (file-png-save-defaults RUN-NONINTERACTIVE image layer \"$work/after.png\" \"after.png\"))" \
    -b "(gimp-quit 1)" > "$work/gimp.log" 2>&1 &
fi
gimp=$!
pids+=($gimp)
image_window="$(wait_for_window 'RGB color.*300x200')" || fail "GIMP showed no image window again"
canvas="$(wait_for_window 'Tarvo 1.1')" || fail "no canvas the second time"
panel="$(wait_for_window '^Tarvo Tools$')" || fail "no tools panel the second time"
sleep 1
# A horizontal stroke across the canvas at client height $2, from x $1 on.
stroke() {
  xdotool windowactivate --sync "$canvas"
  xdotool mousemove --window "$canvas" "$1" "$2" mousedown 1
  for step in $(seq 0 5 100); do xdotool mousemove --window "$canvas" $(($1 + step)) "$2"; done
  xdotool mouseup 1
  sleep 0.5
}
send() { xdotool mousemove --window "$panel" 54 86 click 1; sleep 1; }  # "Send image"
stroke 30 80
send
xdotool windowactivate --sync "$image_window" key ctrl+z  # GIMP takes stroke A back
sleep 1
stroke 170 170
send
question="$(wait_for_window '^[Tt]arvo$')" || fail "sending over the changed layer did not ask"
xdotool windowactivate --sync "$question" key Return  # Paint my strokes onto GIMP's layer
sleep 2
# The layer deleted in GIMP: the canvas says so, in those words, and keeps its painting; an undo in
# GIMP brings the layer back.
xdotool windowactivate --sync "$image_window" key slash
sleep 1
xdotool type --delay 50 "Delete Layer"
sleep 1
xdotool key Return
message="$(wait_for_window '^[Tt]arvo$')" || fail "the canvas did not say that the layer was deleted"
grep -q "The layer was deleted in GIMP" "$work/gimp.log" || fail "the message did not say the layer was deleted"
xdotool windowactivate --sync "$message" key Return
sleep 1
xdotool windowactivate --sync "$image_window" key ctrl+z
sleep 1
# The image scaled to half in GIMP ("Scale Image", its width typed in), then stroke C and a send:
# Tarvo asks, and Alt+R paints C onto the layer at its new size, scaled by half.
xdotool windowactivate --sync "$image_window" key slash
sleep 1
xdotool type --delay 50 "Scale Image"
sleep 1
xdotool key Return
dialog="$(wait_for_window '^Scale Image$')" || fail "GIMP showed no Scale Image dialog"
xdotool windowactivate --sync "$dialog"
sleep 0.5
if [ "$version" = 3 ]; then
  # GIMP 3's dialog takes typing once its width field is clicked.
  xdotool mousemove --window "$dialog" 136 89 click --repeat 3 1
  sleep 0.5
fi
xdotool key ctrl+a
xdotool type --delay 50 "150"
xdotool key Tab
sleep 0.5
xdotool key alt+s
wait_for_window 'RGB color.*150x100' >/dev/null || fail "GIMP did not scale the image"
stroke 30 40
send
question="$(wait_for_window '^[Tt]arvo$')" || fail "sending to the scaled layer did not ask"
xdotool windowactivate --sync "$question" key alt+f  # Save as a File...
dialog="$(wait_for_window '^Save the painting as$')" || fail "no dialog to save the painting"
xdotool windowactivate --sync "$dialog" key ctrl+a
xdotool type --delay 20 "$work/saved.png"
xdotool key Return
for _ in $(seq 40); do [ -s "$work/saved.png" ] && break; sleep 0.25; done
[ "$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$work/saved.png")" = 300,200 ] ||
  fail "the painting was not saved whole as a file"
send
question="$(wait_for_window '^[Tt]arvo$')" || fail "sending to the scaled layer did not ask again"
xdotool windowactivate --sync "$question" key alt+r  # Paint onto the Resized Layer
sleep 2
xdotool windowactivate --sync "$canvas" key alt+F4
for _ in $(seq 120); do kill -0 "$gimp" 2>/dev/null || break; sleep 0.5; done
[ -s "$work/after.png" ] || fail "GIMP saved no layer"
# The least grey level of a box of the saved layer, half the size of the canvas (whose menu bar
# takes the top 20 pixels of the window the strokes were made in): x y width height.
least() {
  ffmpeg -v error -i "$work/after.png" -vf "crop=$3:$4:$1:$2" -f rawvideo -pix_fmt gray - |
    python3 -c 'import sys; print(min(sys.stdin.buffer.read()))'
}
[ "$(least 5 20 70 20)" -eq 255 ] || fail "stroke A, which GIMP took back, is in the layer"
[ "$(least 75 50 70 49)" -lt 200 ] || fail "stroke B is not in the layer"
echo "ok: the stroke since the last send went onto the layer as GIMP changed it"
[ "$(least 20 5 40 10)" -lt 200 ] || fail "stroke C is not in the scaled layer at half its place"
[ "$(least 30 17 100 6)" -eq 255 ] || fail "stroke C went onto the scaled layer at its old place"
echo "ok: the stroke went onto the scaled layer, scaled"
echo "passed"
