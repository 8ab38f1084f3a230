#!/usr/bin/env bash
# The virtual display the window tests draw on: Xvfb on display :87, with
# trayer (an XEmbed notification area) along its bottom edge.
#   xvfb.sh start PIDFILE   starts both (failing clearly when :87 is taken)
#   xvfb.sh stop PIDFILE    stops what start recorded, by pid
#   xvfb.sh trayer PIDFILE [left|right]  starts trayer (again, at that end of
#                           the bottom edge) and records its pid in PIDFILE's
#                           ".trayer.pid" companion
#   xvfb.sh trayer-stop PIDFILE  stops that trayer
set -euo pipefail
display=87
cmd=${1:?start or stop}
pidfile=${2:?pid file}
align=${3:-right}
trayer_pidfile="${pidfile%.pid}.trayer.pid"

start_trayer() {
  command -v trayer >/dev/null || { echo "xvfb: trayer is not installed" >&2; exit 1; }
  DISPLAY=:$display setsid trayer --edge bottom --align "$align" --widthtype request --height 24 \
    --SetDockType false --SetPartialStrut false --transparent false </dev/null >/dev/null 2>&1 &
  echo $! >"$trayer_pidfile"
}

# Stops the process a pid file names when its command is the one expected.
stop_recorded() {
  local file=$1 pattern=$2
  [ -f "$file" ] || return 0
  local pid
  pid=$(cat "$file")
  if [ -r /proc/$pid/cmdline ] && tr '\0' ' ' </proc/$pid/cmdline | grep -q "$pattern"; then
    kill "$pid"
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
  fi
  rm -f "$file"
}

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
    if [ -S /tmp/.X11-unix/X$display ]; then start_trayer; exit 0; fi
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
  # Only what this fixture started is stopped.
  stop_recorded "$trayer_pidfile" "^trayer "
  stop_recorded "$pidfile" "^Xvfb :$display "
  ;;
trayer)
  stop_recorded "$trayer_pidfile" "^trayer "
  start_trayer
  ;;
trayer-stop)
  stop_recorded "$trayer_pidfile" "^trayer "
  ;;
*)
  echo "usage: xvfb.sh start|stop|trayer|trayer-stop PIDFILE" >&2
  exit 2
  ;;
esac
