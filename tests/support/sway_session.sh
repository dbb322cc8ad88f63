# Sourced by the Wayland window tests: the sway compositor on a headless output of $output_size
# (1280x800 unless set) at scale 1, run by a user who is not root (sway refuses root; as root, a
# system user made for the purpose), plus helpers that run programs in the session, read sway's
# tree and take screenshots with grim. Needs $work (a scratch folder, which is handed to that user)
# and the array pids (processes to end on exit). Exits 77 (skipped) without sway, swaymsg, grim or
# jq. No X server takes part: the session has no Xwayland and no DISPLAY.
for tool in sway swaymsg grim jq; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  sway_user=tarvo-wayland-test
  id -u "$sway_user" >/dev/null 2>&1 ||
    useradd --system --no-create-home --shell /usr/sbin/nologin "$sway_user"
  as_user=(runuser -u "$sway_user" --)
  chown "$sway_user" "$work"
fi
chmod 755 "$work"
# The session's runtime folder is its user's alone, as a login's is.
runtime="$work/runtime"
mkdir -m 700 "$runtime"
[ ${#as_user[@]} -eq 0 ] || chown "$sway_user" "$runtime"

# A window that asks for the keyboard with a valid activation token gets it, as GNOME's and KDE's
# compositors give it (sway by default only marks such a window urgent).
cat > "$work/sway.conf" <<CONF
output HEADLESS-1 resolution ${output_size:-1280x800} position 0 0 scale 1
xwayland disable
focus_follows_mouse no
focus_on_window_activation focus
CONF

# Runs "$@" as the session's user, in the session, with nothing of the caller's display.
# (Sway takes an empty SWAYSOCK as its socket's path: the session's variables go only once known.)
in_session() {
  local session=()
  [ -z "${WAYLAND_DISPLAY:-}" ] || session+=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY")
  [ -z "${SWAYSOCK:-}" ] || session+=(SWAYSOCK="$SWAYSOCK")
  "${as_user[@]}" env -i PATH="$PATH" HOME="$work" XDG_RUNTIME_DIR="$runtime" "${session[@]}" \
    XDG_STATE_HOME="${XDG_STATE_HOME:-$work/state}" "$@"
}

# Starts "$@" in the session in the background (redirect its output as the caller's own) and puts
# the program's own pid, not runuser's, in started_pid; both go to pids.
start_in_session() {
  local pid_file
  pid_file="$(mktemp -p "$work" pid.XXXXXX)"
  chmod 666 "$pid_file"
  in_session bash -c 'echo $$ > "$0"; exec "$@"' "$pid_file" "$@" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$pid_file" ] && break; sleep 0.1; done
  started_pid="$(cat "$pid_file")"
  pids+=("$started_pid")
}

# The headless backend makes one output, HEADLESS-1, and no input devices; pixman renders in memory.
start_in_session env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway --config "$work/sway.conf" > "$work/sway.log" 2>&1
sway_pid="$started_pid"
for _ in $(seq 100); do
  SWAYSOCK="$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n1)" || true
  display="$(ls "$runtime" | grep -E '^wayland-[0-9]+$' | head -n1)" || true
  if [ -n "$SWAYSOCK" ] && [ -n "$display" ]; then
    export SWAYSOCK WAYLAND_DISPLAY="$display"
    in_session swaymsg -t get_outputs >/dev/null 2>&1 && break
  fi
  sleep 0.1
done
if ! in_session swaymsg -t get_outputs >/dev/null 2>&1; then
  echo "FAIL: sway did not start; it said:"
  cat "$work/sway.log"
  exit 1
fi
# Without input devices the seat has no keyboard, and one that wtype brings for a single key goes
# again before the program has taken the key in. A virtual keyboard kept for the whole session (a
# wtype that only waits) gives the seat its keyboard from the start, as a desktop's has.
if command -v wtype >/dev/null; then
  start_in_session wtype -s 3600000 > "$work/keyboard.log" 2>&1
fi
# The session's bus where a user session keeps it, in the runtime folder, which the programs' D-Bus
# clients look in.
start_session_bus "$runtime/bus" start_in_session
unset DISPLAY QT_QPA_PLATFORM  # Qt picks its Wayland platform, as for a user of a Wayland desktop

sway_msg() { in_session swaymsg "$@"; }
sway_tree() { in_session swaymsg -r -t get_tree; }

# Sets the output's scale ($1: 1, 1.5, 2...) and waits until sway reports it.
set_output_scale() {
  sway_msg output HEADLESS-1 scale "$1" >/dev/null
  for _ in $(seq 50); do
    in_session swaymsg -r -t get_outputs | jq -e --argjson s "$1" '.[0].scale == $s' >/dev/null &&
      return 0
    sleep 0.1
  done
  echo "the output's scale did not become $1" >&2
  return 1
}

# The tree node of the window whose title matches the regular expression $1, as JSON; nothing when
# there is none.
window_node() {
  sway_tree | jq -c --arg name "$1" \
    'first(.. | objects | select(has("pid") and ((.name // "") | test($name))))'
}

# Waits up to 20 s for a window whose title matches $1 and prints its node.
wait_for_node() {
  local node
  for _ in $(seq 200); do
    node="$(window_node "$1")"
    [ -n "$node" ] && echo "$node" && return 0
    sleep 0.1
  done
  echo "no window \"$1\" opened" >&2
  return 1
}

# The window's contents, title bar and borders left out, of node $1: x y width height in the
# output's logical pixels.
content_rect() {
  jq -r '"\(.rect.x + .window_rect.x) \(.rect.y + .window_rect.y) \(.window_rect.width) \(.window_rect.height)"' <<< "$1"
}

# The titles of the floating windows on the workspaces, one a line.
floating_titles() {
  sway_tree | jq -r '.. | objects | select(.type == "workspace") | .floating_nodes[] | .. | objects |
    select(has("pid")) | .name'
}

# A screenshot of the output into $1, or of the rectangle "x y width height" (logical pixels) $2,
# in device pixels (at scale 2 a logical pixel is two device pixels across).
screenshot() {
  local x y w h
  if [ -n "${2:-}" ]; then
    read -r x y w h <<< "$2"
    in_session grim -g "$x,$y ${w}x$h" "$1"
  else
    in_session grim "$1"
  fi
}

# Retries a check for up to two seconds, as the compositor takes a moment to settle.
eventually() {
  for _ in $(seq 20); do "$@" && return 0; sleep 0.1; done
  "$@"
}
