#!/bin/bash
# The end of a painted session with a large picture, as a user has it: the program opens IMAGE
# (a copy of it is painted, never IMAGE itself), takes one stroke as a person's input (journalled,
# with the painting history kept) and closes its canvas, which writes the picture back; then it
# ends. Prints how long the process lived after the written file took its name (the file's change
# time: the rename that ends the write), after the file's last byte, the whole run, and the peak
# resident memory of the process, with the load average, which the figures need beside them.
#
#   bench/close_and_exit.sh [--person] build/tarvo photo.png [runs]
#
# The stroke is replayed (--live, offscreen) unless --person: then the program opens on an Xvfb
# screen of 1920 x 1080 under openbox as a person opens it, its client cut to the screen, and the
# stroke is dragged and the canvas closed (Alt+F4) with xdotool. A replay keeps its client at the
# image's size, so its window surfaces are image-sized and its peak is not the one a person meets.
#
# A picture to try it on: any large PNG; the benchmarks' own are made by tarvo_bench.
set -euo pipefail
person=0
if [ "${1:-}" = --person ]; then
  person=1
  shift
fi
tarvo=$1
image=$2
runs=${3:-1}
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-close-XXXXXX")
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT
# Its recovery folder, painting history and settings are its own, not the user's.
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
if [ "$person" = 1 ]; then
  source "$(dirname "$0")/../tests/support/end_processes.sh"
  screen_size=1920x1080
  source "$(dirname "$0")/../tests/support/openbox_session.sh"
fi

# The person's session: the canvas opens, one stroke is dragged across it, Alt+F4 closes it.
paint_as_a_person() {
  "$@" &
  local pid=$! canvas x y
  canvas="$(wait_for_window 'Spline based paint engine')" || { kill "$pid"; return 1; }
  sleep 1
  read -r x y _ < <(client_of "$canvas")
  xdotool mousemove $((x + 100)) $((y + 100)) mousedown 1
  for step in $(seq 20); do
    xdotool mousemove $((x + 100 + step * 20)) $((y + 100 + step * 10))
    sleep 0.02
  done
  xdotool mouseup 1
  sleep 1
  xdotool windowactivate --sync "$canvas" key alt+F4
  wait "$pid"
}
printf '%s\n' "Form_MouseDown 1 0 100 100" "Form_MouseMove 1 0 200 150" \
  "Form_MouseMove 1 0 400 300" "Form_MouseMove 1 0 600 350" "Form_MouseUp 1 0 600 350" \
  "Form_Unload" > "$work/paint.tvs"
for ((run = 1; run <= runs; run++)); do
  copy="$work/$(basename "$image")"
  cp "$image" "$copy"
  start=$(date +%s.%N)
  if [ "$person" = 1 ]; then
    paint_as_a_person /usr/bin/time -f "%M" -o "$work/peak" "$tarvo" "$copy" > "$work/log" 2>&1 ||
      { cat "$work/log"; exit 1; }
  else
    /usr/bin/time -f "%M" -o "$work/peak" env QT_QPA_PLATFORM=offscreen "$tarvo" "$copy" \
      --replay "$work/paint.tvs" --live > "$work/log" 2>&1 || { cat "$work/log"; exit 1; }
  fi
  end=$(date +%s.%N)
  renamed=$(stat -c %.9Z "$copy")
  written=$(stat -c %.9Y "$copy")
  printf 'run %d: ended %.2f s after the rename (%.2f s after the last byte), whole run %.1f s, ' \
    "$run" "$(echo "$end - $renamed" | bc)" "$(echo "$end - $written" | bc)" \
    "$(echo "$end - $start" | bc)"
  printf 'peak %d MB, load %s\n' "$(($(tail -1 "$work/peak") / 1024))" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  rm -f "$copy" "$copy~"
done
