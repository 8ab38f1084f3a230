#!/usr/bin/env bash
# The virtual display the window tests draw on: Xvfb on display :87.
#   xvfb.sh start PIDFILE   starts it (failing clearly when :87 is taken)
#   xvfb.sh stop PIDFILE    stops the Xvfb that start recorded, by its pid
set -euo pipefail
display=87
cmd=${1:?start or stop}
pidfile=${2:?pid file}

case "$cmd" in
start)
  if [ -e /tmp/.X${display}-lock ]; then
    echo "xvfb: display :$display is taken (/tmp/.X${display}-lock exists); stop that server first" >&2
    exit 1
  fi
  command -v Xvfb >/dev/null || { echo "xvfb: Xvfb is not installed" >&2; exit 1; }
  log="${pidfile%.pid}.log"
  # Detached from the test's output so that the fixture step can end.
  setsid Xvfb :$display -br -dpi 96 -nolisten tcp -screen 0 1280x1024x24 </dev/null >"$log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 1 100); do
    if [ -S /tmp/.X11-unix/X$display ]; then exit 0; fi
    if ! kill -0 "$(cat "$pidfile")" 2>/dev/null; then
      echo "xvfb: Xvfb ended at start:" >&2
      cat "$log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "xvfb: display :$display did not come up" >&2
  exit 1
  ;;
stop)
  [ -f "$pidfile" ] || exit 0
  pid=$(cat "$pidfile")
  # Only the Xvfb this fixture started is stopped.
  if [ -r /proc/$pid/cmdline ] && tr '\0' ' ' </proc/$pid/cmdline | grep -q "^Xvfb :$display "; then
    kill "$pid"
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
  fi
  rm -f "$pidfile"
  ;;
*)
  echo "usage: xvfb.sh start|stop PIDFILE" >&2
  exit 2
  ;;
esac
