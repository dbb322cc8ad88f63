# Sourced by the window tests: an X server (Xvfb) of $screen_size with the openbox window manager,
# which reserves a 40-pixel panel at the bottom of the screen (its work area is the screen less
# that strip), plus helpers that read windows as the window manager shows them. Needs $work (a
# scratch folder), the array pids (processes to end on exit) and end_processes.sh; a session
# bus of its own is in DBUS_SESSION_BUS_ADDRESS. Exits 77 (skipped) without the
# tools. TARVO_WINDOW_MANAGER=PROGRAM runs the tests under another window manager instead (icewm,
# for one, whose task bar reserves the bottom of the screen), started with its own defaults.
window_manager="${TARVO_WINDOW_MANAGER:-openbox}"
for tool in Xvfb "$window_manager" xdotool xprop xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done

cat > "$work/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <margins><top>0</top><bottom>40</bottom><left>0</left><right>0</right></margins>
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <keyboard>
    <keybind key="A-F10"><action name="ToggleMaximize"/></keybind>
    <keybind key="A-F4"><action name="Close"/></keybind>
  </keyboard>
</openbox_config>
XML

# -noreset: without it the server resets when its first client leaves, and the next one fails.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 "${screen_size:-1600x1000}x24" -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && grep -q . "$work/display" && break; sleep 0.1; done
sleep 0.2
export DISPLAY=":$(head -n1 "$work/display")"
start_session_bus "$work/session-bus"
if [ "$window_manager" = openbox ]; then
  openbox --config-file "$work/openbox.xml" >"$work/openbox.log" 2>&1 &
else
  "$window_manager" >"$work/openbox.log" 2>&1 &
fi
pids+=($!)
for _ in $(seq 50); do xprop -root _NET_WORKAREA 2>/dev/null | grep -q '=' && break; sleep 0.1; done
unset QT_QPA_PLATFORM  # the windows open on the X server, as for a user
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0"

# The work area: x y width height.
work_area() { xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g' | cut -d' ' -f1-4; }

# Waits for a window whose name matches $1 and prints its id (up to two minutes: a sanitizer build
# on a loaded machine is slow to start).
wait_for_window() {
  local id=""
  for _ in $(seq 480); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n1 || true)"
    [ -n "$id" ] && echo "$id" && return 0
    sleep 0.25
  done
  echo "no window \"$1\" opened" >&2
  return 1
}

# The client area of window $1: x y width height, in root coordinates.
client_of() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /^  Width/ {w=$2} /^  Height/ {h=$2} END {print x, y, w, h}'
}

# The frame of window $1, title bar and borders included: x y width height.
frame_of() {
  local x y w h l r t b
  read -r x y w h < <(client_of "$1")
  read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo $((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))
}

# Succeeds when the frame of window $1 lies wholly in the work area.
frame_in_work_area() {
  local fx fy fw fh ax ay aw ah
  read -r fx fy fw fh < <(frame_of "$1")
  read -r ax ay aw ah < <(work_area)
  [ "$fx" -ge "$ax" ] && [ "$fy" -ge "$ay" ] && [ $((fx + fw)) -le $((ax + aw)) ] &&
    [ $((fy + fh)) -le $((ay + ah)) ]
}

# Succeeds when the frames of windows $1 and $2 do not overlap, given as "x y width height".
apart() {
  local ax ay aw ah bx by bw bh
  read -r ax ay aw ah <<< "$1"
  read -r bx by bw bh <<< "$2"
  [ $((ax + aw)) -le "$bx" ] || [ $((bx + bw)) -le "$ax" ] || [ $((ay + ah)) -le "$by" ] ||
    [ $((by + bh)) -le "$ay" ]
}

# Succeeds when window $1 is stacked above window $2.
stacked_above() {
  local order
  order="$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')"
  local upper lower i=0
  for w in $order; do
    [ $((w)) -eq $(($1)) ] && upper=$i
    [ $((w)) -eq $(($2)) ] && lower=$i
    i=$((i + 1))
  done
  [ -n "${upper:-}" ] && [ -n "${lower:-}" ] && [ "$upper" -gt "$lower" ]
}

# Retries a check for up to two seconds, as the window manager takes a moment to settle.
eventually() {
  for _ in $(seq 20); do "$@" && return 0; sleep 0.1; done
  "$@"
}
