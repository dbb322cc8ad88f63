# Sourced by the tests that start processes: end_processes PID... asks each to end (SIGTERM), gives
# them up to five seconds to finish (a program ending on SIGTERM still writes its recovery copy or
# its profile), then ends what is left with SIGKILL. Only after that may a test delete the folder
# those processes write into, or the deletion races their last writes.
end_processes() {
  local pid alive
  for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
  for _ in $(seq 50); do
    alive=0
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && break
    sleep 0.1
  done
  for pid in "$@"; do kill -9 "$pid" 2>/dev/null || true; done
  for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
}

# Makes $work, a scratch folder, and the array pids; on exit the processes in pids are ended as
# above and the folder is deleted.
scratch_folder() {
  work="$(mktemp -d)"
  pids=()
  trap 'end_processes "${pids[@]}"; rm -rf "$work"' EXIT
}

# Says what the processes whose command line holds $1 are doing (state, wait channel, and each
# thread's stack where gdb is there): printed when a test gives up waiting for one of them.
show_processes() {
  echo "processes matching $1:"
  ps -eo pid=,stat=,wchan:24=,etime=,args= | grep -F -- "$1" | grep -v grep || true
  command -v gdb >/dev/null || return 0
  local pid
  for pid in $(pgrep -f -- "$1" || true); do
    echo "--- stacks of $pid"
    timeout 60 gdb -p "$pid" -batch -nx -ex 'thread apply all bt 25' 2>/dev/null |
      grep -E '^(Thread|#)' | head -150 || true
  done
}

# Starts a session bus listening at $1, as every desktop has one, for the test's programs, and
# puts its address in DBUS_SESSION_BUS_ADDRESS; the rest of the arguments, when given, start it
# instead of a plain background job (start_in_session, to run it as the session's user). Without a bus each program's D-Bus client forks to launch one,
# and under the address sanitizer that child can hang for ever: it allocates right after the fork,
# while another thread of the program may have held the allocator's lock. The bus lets every user
# in, since the programs may run as one who is not root. Without dbus-daemon nothing listens at $1,
# and a client told that address gives up at once instead of launching a bus.
start_session_bus() {
  local socket="$1"
  shift
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$socket"
  command -v dbus-daemon >/dev/null || return 0
  cat > "$work/session-bus.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
XML
  chmod 644 "$work/session-bus.conf"
  local bus=(dbus-daemon --nofork --nopidfile --config-file="$work/session-bus.conf")
  if [ $# -gt 0 ]; then
    "$@" "${bus[@]}" > "$work/session-bus.log" 2>&1
  else
    "${bus[@]}" > "$work/session-bus.log" 2>&1 &
    pids+=($!)
  fi
  for _ in $(seq 50); do [ -S "$socket" ] && return 0; sleep 0.1; done
}
