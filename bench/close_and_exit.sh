#!/bin/bash
# The end of a painted session with a large picture, as a user has it: the program opens IMAGE
# (a copy of it is painted, never IMAGE itself), takes one stroke as a person's input (journalled,
# with the painting history kept) and closes its canvas, which writes the picture back; then it
# ends. Prints how long the process lived after the written file took its name (the file's change
# time: the rename that ends the write), after the file's last byte, the whole run, and the peak
# resident memory of the process, with the load average, which the figures need beside them.
#
#   bench/close_and_exit.sh build/tarvo photo.png [runs]
#
# A picture to try it on: any large PNG; the benchmarks' own are made by tarvo_bench.
set -euo pipefail
tarvo=$1
image=$2
runs=${3:-1}
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-close-XXXXXX")
trap 'rm -rf "$work"' EXIT
printf '%s\n' "Form_MouseDown 1 0 100 100" "Form_MouseMove 1 0 200 150" \
  "Form_MouseMove 1 0 400 300" "Form_MouseMove 1 0 600 350" "Form_MouseUp 1 0 600 350" \
  "Form_Unload" > "$work/paint.tvs"
for ((run = 1; run <= runs; run++)); do
  copy="$work/$(basename "$image")"
  cp "$image" "$copy"
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/peak" env QT_QPA_PLATFORM=offscreen "$tarvo" "$copy" \
    --replay "$work/paint.tvs" --live > "$work/log" 2>&1 || { cat "$work/log"; exit 1; }
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
