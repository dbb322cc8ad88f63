#!/usr/bin/env bash
# The canvas and the tools panel under a real Wayland compositor (sway, headless), run by a user who
# is not root, with Qt on its own Wayland platform. At output scales 1 and 2, a stroke replayed as a
# person's input (--replay --live) shows on the canvas while it stays open, pixel for pixel the
# image the same script paints headless (zoom 1: an image pixel on each device pixel); the canvas
# has the keyboard at start; the tools panel is a floating window. Then, with keys typed by wtype,
# as a person starts it: a painting kept because its folder could not be written is offered and
# taken (Return), the canvas has the keyboard and is the panel's parent, and closing the canvas
# opens a floating dialog, a child of the canvas, over the canvas, which stays; Escape keeps
# painting.
# Usage: wayland_window_test.sh TARVO. Exits 77 (skipped) without sway, swaymsg, grim, jq or PIL.
# TARVO_WAYLAND_SHOTS=FOLDER keeps the screenshots there, and the program's protocol logs.
set -euo pipefail
tarvo="$1"
here="$(dirname "$0")"
source "$here/../support/end_processes.sh"
scratch_folder
trap 'end_processes "${pids[@]}"; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
if ! /usr/bin/python3 -c "import PIL" 2>/dev/null; then
  echo "skipped: python3-pil is not installed (scripts/setup installs it)"
  exit 77
fi
source "$here/../support/sway_session.sh"
screen_image() { /usr/bin/python3 "$here/../support/screen_image.py" "$@"; }
shots="${TARVO_WAYLAND_SHOTS:-}"
failures=()
failed() { echo "FAIL: $*"; failures+=("$*"); }

# The program, its image and scripts in a folder of the session's user.
cp "$tarvo" "$work/tarvo"
mkdir "$work/image"
screen_image gradient "$work/small.png" 300 200
cp "$work/small.png" "$work/image/small.png"
# The stroke comes after two seconds of the pointer resting over the canvas, once the compositor has
# given the window its size: what it shows then is what the program's damage told it to redraw.
{
  for _ in $(seq 2000); do echo "Form_MouseMove 0 0 5 5"; done
  echo "Form_MouseDown 1 0 40 40"
  for i in $(seq 1 110); do echo "Form_MouseMove 1 0 $((40 + 2 * i)) $((40 + i))"; done
  echo "Form_MouseUp 1 0 260 150"
} > "$work/stroke.tvs"
[ ${#as_user[@]} -eq 0 ] || chown -R "$sway_user" "$work/image" "$work/stroke.tvs"
in_session env QT_QPA_PLATFORM=offscreen "$work/tarvo" "$work/image/small.png" \
  --replay "$work/stroke.tvs" --out "$work/ref.png" > "$work/ref.log" 2>&1 ||
  { cat "$work/ref.log"; echo "FAIL: the headless replay did not paint the reference"; exit 1; }

canvas_title='^Tarvo 1\.1 for Marlet'
panel_title='^Tarvo Tools$'

# Starts the program on a fresh copy of the image, with a recovery folder of its own, the stroke
# replayed live; waits until the stroke is in.
start_canvas() {
  rm -f "$work/live.tvs"
  cp "$work/small.png" "$work/image/small.png"
  [ ${#as_user[@]} -eq 0 ] || chown "$sway_user" "$work/image/small.png"
  start_in_session env WAYLAND_DEBUG=1 XDG_STATE_HOME="$work/state-$1" "$work/tarvo" "$work/image/small.png" --no-tablet \
    --replay "$work/stroke.tvs" --live --record "$work/live.tvs" > "$work/tarvo-$1.log" 2>&1
  tarvo_pid="$started_pid"
  canvas_node="$(wait_for_node "$canvas_title")" || return 1
  for _ in $(seq 100); do grep -q '^Form_MouseUp' "$work/live.tvs" 2>/dev/null && break; sleep 0.1; done
  grep -q '^Form_MouseUp' "$work/live.tvs" || { echo "the live replay did not finish" >&2; return 1; }
  sleep 0.5  # the last frame reaches the compositor
  canvas_node="$(window_node "$canvas_title")"
}

# The Wayland id of the xdg_toplevel whose title matches $2 in the program's protocol log $1.
# (libwayland names an object xdg_toplevel@N up to version 1.22 and xdg_toplevel#N after.)
toplevel_titled() {
  grep -E -- "-> xdg_toplevel[@#][0-9]+\.set_title\(\"$2" "$1" | tail -n1 |
    sed -E 's/.*xdg_toplevel[@#]([0-9]+)\.set_title.*/\1/'
}
# Succeeds when, in log $1, the toplevel titled $2 was given the one titled $3 as its parent.
parent_is() {
  local child parent
  child="$(toplevel_titled "$1" "$2")" parent="$(toplevel_titled "$1" "$3")"
  [ -n "$child" ] && [ -n "$parent" ] &&
    grep -qE -- "-> xdg_toplevel[@#]$child\.set_parent\(xdg_toplevel[@#]$parent\)" "$1"
}

keep_shot() { [ -z "$shots" ] || { mkdir -p "$shots" && cp "$1" "$shots/$2"; }; }

for scale in 1 2; do
  set_output_scale "$scale"
  log="$work/tarvo-scale$scale.log"
  if ! start_canvas "scale$scale"; then
    failed "scale $scale: the canvas did not open; the program said: $(grep -v '^\[' "$log" | tail -n5)"
    end_processes "$tarvo_pid"
    continue
  fi
  grep -q 'xdg_wm_base' "$log" && [ "$(jq -r .shell <<< "$canvas_node")" = xdg_shell ] ||
    failed "scale $scale: the program did not open its windows through Qt's Wayland platform"

  # (a) The stroke, as the headless replay painted it, is on the screen in the canvas's area.
  shot="$work/canvas-scale$scale.png"
  screenshot "$shot" "$(content_rect "$canvas_node")"
  keep_shot "$shot" "canvas-scale$scale.png"
  found="$(screen_image find "$shot" "$work/ref.png")" ||
    failed "scale $scale: the canvas does not show the painted image: $found"

  # (b) The tools panel floats. (A live replay, which nobody answers, shows the panel before the
  # canvas, which then has no window to be its parent yet; its parent is checked below, on a start
  # by a person.)
  eventually wait_for_node "$panel_title" >/dev/null || failed "scale $scale: no tools panel opened"
  floating_titles | grep -qE "$panel_title" ||
    failed "scale $scale: the tools panel is not a floating window: $(floating_titles | tr '\n' ',')"

  # (c) The canvas has the keyboard.
  [ "$(jq -r .focused <<< "$canvas_node")" = true ] ||
    failed "scale $scale: the canvas does not have the focus; $(sway_tree | jq -r '.. | objects | select(.focused == true) | .name') has"

  end_processes "$tarvo_pid"
  keep_shot "$log" "tarvo-scale$scale.log"
  for _ in $(seq 50); do [ -z "$(window_node "$canvas_title")" ] && break; sleep 0.1; done
done

# Waits up to 10 s for a floating window other than the tools panel and prints its title.
wait_for_dialog() {
  local title
  for _ in $(seq 100); do
    title="$(floating_titles | grep -vE "$panel_title" | head -n1)" || true
    [ -n "$title" ] && echo "$title" && return 0
    sleep 0.1
  done
  return 1
}
gone() { for _ in $(seq 50); do floating_titles | grep -qxF "$1" || return 0; sleep 0.1; done; return 1; }

# (d) Dialogs, answered with keys. The live replay asks nothing, so the painting reaches an
# interactive canvas through recovery: SIGTERM on a canvas whose folder cannot be written keeps a
# copy, and the next start offers it (Return: Yes).
if ! command -v wtype >/dev/null; then
  echo "skipped the dialogs: wtype is not installed (scripts/setup installs it)"
else
  set_output_scale 1
  start_canvas dialog || failed "the canvas for the dialogs did not open"
  chmod a-w "$work/image"
  end_processes "$tarvo_pid"
  log="$work/tarvo-dialog.log"
  start_in_session env WAYLAND_DEBUG=1 XDG_STATE_HOME="$work/state-dialog" "$work/tarvo" \
    "$work/image/small.png" --no-tablet > "$log" 2>&1
  tarvo_pid="$started_pid"
  if question="$(wait_for_dialog)"; then
    in_session wtype -k Return
    gone "$question" || failed "Return did not answer the question \"$question\""
  else
    failed "no question offered the painting kept when the folder could not be written"
  fi
  if canvas_node="$(wait_for_node "$canvas_title")"; then
    wait_for_node "$panel_title" >/dev/null && sleep 0.5
    parent_is "$log" "Tarvo Tools" "Tarvo 1\.1" ||
      failed "started by a person, the tools panel's parent is not the canvas"
    [ "$(window_node "$canvas_title" | jq -r .focused)" = true ] ||
      failed "started by a person, the canvas does not have the focus; $(sway_tree | jq -r '.. | objects | select(.focused == true) | .name') has"
    sway_msg "[pid=$tarvo_pid title=\"$canvas_title\"] kill" >/dev/null
    if dialog="$(wait_for_dialog)"; then
      sleep 0.5
      screenshot "$work/dialog.png"
      keep_shot "$work/dialog.png" dialog.png
      parent_is "$log" "$dialog" "Tarvo 1\.1" ||
        failed "the dialog \"$dialog\" over the canvas is not the canvas's child"
      [ "$(window_node "$canvas_title" | jq -r .visible)" = true ] ||
        failed "the canvas is not visible under the dialog"
      in_session wtype -k Escape
      gone "$dialog" || failed "Escape did not answer the dialog \"$dialog\""
      kill -0 "$tarvo_pid" 2>/dev/null && [ -n "$(window_node "$canvas_title")" ] ||
        failed "Escape (Keep Painting) did not keep the canvas open"
    else
      failed "closing the canvas on a folder that cannot be written opened no floating dialog"
    fi
  else
    failed "the recovered canvas did not open"
  fi
  end_processes "$tarvo_pid"
  keep_shot "$log" tarvo-dialog.log
  chmod u+w "$work/image"
fi

if [ ${#failures[@]} -gt 0 ]; then
  echo "${#failures[@]} checks failed"
  exit 1
fi
echo "passed"
