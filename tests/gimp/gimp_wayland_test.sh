#!/usr/bin/env bash
# The GIMP 3 plug-in's canvas beside GIMP's own window under a real Wayland compositor (sway,
# headless), GIMP and the canvas both on Wayland, run by a user who is not root: GIMP shows an
# image in its window and its batch interpreter runs the plug-in interactively on it, and the
# canvas imports the handle GIMP exported for its image window and becomes that window's
# child: the canvas and the tools panel float, and GIMP's window keeps the whole workspace (a canvas
# that were a toplevel of its own would be tiled beside GIMP and halve it). Closing the canvas
# ends the plug-in. Usage: gimp_wayland_test.sh PLUG-IN TARVO. Exits 77 (skipped) without GIMP 3,
# sway, swaymsg, grim, jq or wtype. TARVO_WAYLAND_SHOTS=FOLDER keeps a screenshot of a failure
# there, with GIMP's log (the plug-in's protocol log in it) and sway's tree.
set -euo pipefail
plugin="$1"
tarvo="$2"
version=3
here="$(dirname "$0")"
source "$here/gimp_version.sh"
if ! command -v wtype >/dev/null; then
  echo "skipped: wtype is not installed (scripts/setup installs it)"
  exit 77
fi
source "$here/../support/end_processes.sh"
scratch_folder
source "$here/../support/sway_session.sh"

# GIMP's profile, with the plug-in, and the image, in folders of the session's user. The plug-in
# logs its Wayland requests (GIMP hands a plug-in the variables of its profile's environ files).
mkdir -p "$work/profile/plug-ins/tarvo-gimp" "$work/profile/environ"
cp "$plugin" "$work/profile/plug-ins/tarvo-gimp/tarvo-gimp"
echo "(show-welcome-dialog no)" > "$work/profile/gimprc"
echo "WAYLAND_DEBUG=1" > "$work/profile/environ/tarvo-wayland-test.env"
echo "Form_Unload" > "$work/close.tvs"
QT_QPA_PLATFORM=offscreen "$tarvo" "$work/white.png" --size 300x200 --replay "$work/close.tvs" \
  2>/dev/null
[ ${#as_user[@]} -eq 0 ] || chown -R "$sway_user" "$work/profile" "$work/white.png"

fail() {
  echo "FAIL: $*"
  if [ -n "${TARVO_WAYLAND_SHOTS:-}" ]; then
    mkdir -p "$TARVO_WAYLAND_SHOTS"
    screenshot "$work/failure.png" || true
    sway_tree > "$TARVO_WAYLAND_SHOTS/tree.json" || true
    cp "$work/failure.png" "$work/gimp.log" "$TARVO_WAYLAND_SHOTS/" || true
  fi
  grep -v -E '^\[ *[0-9.]+\]  ' "$work/gimp.log" | tail -n 40 || true
  exit 1
}

start_in_session env GDK_BACKEND=wayland GIMP3_DIRECTORY="$work/profile" gimp-3.0 -d -f -s \
  --batch-interpreter=plug-in-script-fu-eval -b "(let* (
      (image (car (gimp-file-load RUN-NONINTERACTIVE \"$work/white.png\")))
      (layer (vector-ref (car (gimp-image-get-selected-layers image)) 0)))
    (gimp-message-set-handler CONSOLE)
    (gimp-display-new image)
    (plug-in-tarvo RUN-INTERACTIVE image (vector layer) \"\"))" > "$work/gimp.log" 2>&1

# GIMP takes its time to start with every plug-in logging its protocol: up to a minute a window.
wait_long() { wait_for_node "$1" || wait_for_node "$1" || wait_for_node "$1"; } 2>/dev/null
# The image window's title names the image's mode and size.
wait_long 'RGB color.*300x200' > /dev/null || fail "GIMP showed no image window"
wait_long '^Tarvo 1\.1' > /dev/null || fail "no canvas"
wait_for_node '^Tarvo Tools$' > /dev/null || fail "no tools panel"
sleep 1
grep -qE -- '-> zxdg_imported_v[12][@#][0-9]+\.set_parent_of\(wl_surface[@#][0-9]+\)' "$work/gimp.log" ||
  fail "the canvas imported no parent"
floating_titles | grep -q '^Tarvo 1\.1' ||
  fail "the canvas is not floating: $(floating_titles | tr '\n' ',')"
floating_titles | grep -qx 'Tarvo Tools' || fail "the tools panel is not floating"
# Alone in the tiled layout, GIMP's window spans the workspace (a second tiled window would take
# half of its width).
workspace_span="$(sway_tree | jq -r 'first(.. | objects | select(.type == "workspace" and
  .name != "__i3_scratch")) | "\(.rect.x) \(.rect.width)"')"
gimp_span="$(window_node 'RGB color.*300x200' | jq -r '"\(.rect.x) \(.rect.width)"')"
[ "$gimp_span" = "$workspace_span" ] ||
  fail "GIMP's window spans $gimp_span (x, width) of the workspace's $workspace_span"

# The close box, as sway gives it: the canvas closes and GIMP stays.
sway_msg '[title="^Tarvo 1\.1"] kill' > /dev/null
for _ in $(seq 100); do [ -z "$(window_node '^Tarvo 1\.1')" ] && break; sleep 0.1; done
[ -z "$(window_node '^Tarvo 1\.1')" ] || fail "the canvas did not close"
[ -n "$(window_node 'RGB color.*300x200')" ] || fail "GIMP's window went with the canvas"
echo "passed"
