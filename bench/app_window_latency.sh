#!/usr/bin/env bash
# How quickly the main window's loop answers while the program works: the
# whole program on a virtual display of its own, in throwaway namespaces
# (scripts/app-topology.sh; nothing leaves them), logged in to the account
# service's stand-in (bench/tools/account_service_runner.cpp) whose proxy list
# holds NODES (2000) nodes. bench/tools/channel_pinger.py sends command 13,
# which runs on the main loop, every 10 ms from the moment the channel opens
# (together with the main window, after the login) through these phases:
#   fill        the first 10 s after the first reply: the window takes in the
#               account's nodes
#   idle        the next 10 s, nothing asked of the program
#   connect     a node of ss-server (aes-256-gcm) chosen, global mode, the
#               DNS servers set and connect, until the state says connected,
#               and 1 s more
#   download    MIB (256) MiB fetched with curl through the tunnel from nginx
#               in the server namespace
#   disconnect  until the state says disconnected, and 1 s more
# and prints per phase the round trips' p50, p99 and maximum and the p99 over
# the idle p99 (bench/tools/phase_stats.py).
#
# usage (as root): bench/app_window_latency.sh [BUILD_DIR...]
#   BUILD_DIR defaults to build/release (cmake --build build/release --target
#   cendrow account_service_runner); the runner comes from the first one.
#   With several, each round runs each of them in turn, in one topology.
# Through the environment: ROUNDS (1), NODES (2000), MIB (256); PERF=PREFIX
# records the main thread's calls (perf record, DWARF call graphs) during
# fill and connect into PREFIX-<run>-fill.data and PREFIX-<run>-connect.data
# (with PERF_OFFCPU=1, where it blocks instead of where it runs);
# NICE=N runs the program, the display and the pinger at that niceness (say
# -10 on a machine that builds meanwhile).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$root/build/release"
rounds=${ROUNDS:-1}
nodes=${NODES:-2000}
mib=${MIB:-256}
tools=$root/bench/tools
client=$tools/channel_client.py
runner=$1/bench/account_service_runner

[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)" >&2; exit 1; }
for b in "$@"; do
  [ -x "$b/program/cendrow" ] || { echo "build cendrow in $b first" >&2; exit 1; }
done
[ -x "$runner" ] || { echo "build account_service_runner in $1 first" >&2; exit 1; }

# shellcheck source=lib/app_topology.sh
. "$root/bench/lib/app_topology.sh"
# shellcheck source=lib/virtual_display.sh
. "$root/bench/lib/virtual_display.sh"
bench_app_topology winlat
bench_virtual_display "$1"
service_pid= pinger_pid=
cleanup() {
  [ -n "$pinger_pid" ] && kill "$pinger_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  bench_virtual_display_cleanup
  bench_app_cleanup
}
trap cleanup EXIT

head -c $((mib << 20)) /dev/urandom > "$dir/peers/www/big"
email=bench@example.com password=bench-pass
ip netns exec "$app" "$runner" "$dir/account-ca.pem" "$email" "$password" "$nodes" > "$dir/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do grep -q '^running ' "$dir/service.log" && break; sleep 0.1; done
url=$(sed -n 's/^running //p' "$dir/service.log")
[ -n "$url" ] || { echo "the account service did not start: $(cat "$dir/service.log")" >&2; exit 1; }

now() { date +%s.%N; }
b64() { printf %s "$1" | base64 -w0; }

# measure BUILD_DIR LABEL: one run of the program through every phase.
measure() {
  local build=$1 label=$2 side=$dir/$2 id t first t_idle t_conn
  cp -r "$build/program" "$side"
  mkdir -p "$side/config"
  printf '[basic]\naccount_url=%s\nca_file=%s\n' "$url" "$dir/account-ca.pem" > "$side/config/services.ini"
  printf '[basic]\nrememberuser=1\nautologin=1\nusername=%s\npassword=%s\nbIsFirstRunApp=0\n' \
    "$(b64 "$email")" "$(b64 "$password")" > "$side/config/config.ini"
  mkdir -m 700 -p "$side-run" "$side-data"
  local run=$side-run/cendrow record=$side.record phases=$side.phases
  : > "$phases"
  python3 "$tools/channel_pinger.py" "$run" "$record" 10 &
  pinger_pid=$!
  # As on_display would, but the process id is the program's own.
  DISPLAY=:$display GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 ip netns exec "$app" env -u CENDROW_HOST_GUARD \
    XDG_RUNTIME_DIR="$side-run" XDG_DATA_HOME="$side-data" "$side/cendrow" > "$side.log" 2>&1 &
  pid=$!
  if [ -n "${NICE:-}" ]; then renice -n "$NICE" -p "$pid" "$pinger_pid" "$xvfb_pid" >/dev/null; fi
  ask() { python3 "$client" "$run" "$@"; }
  state_is() { [ "$(ask 11)" = "$1" ]; }
  phase() { echo "$1 $2 $3" >> "$phases"; }
  local perf_pid=
  profile_start() {
    [ -n "${PERF:-}" ] || return 0
    local what=(-F 499)
    [ -n "${PERF_OFFCPU:-}" ] && what=(-e sched:sched_switch)
    perf record -q "${what[@]}" --call-graph dwarf,16384 -t "$pid" -o "$PERF-$label-$1.data" 2>/dev/null &
    perf_pid=$!
  }
  profile_stop() {
    [ -n "$perf_pid" ] || return 0
    kill -INT "$perf_pid"
    wait "$perf_pid" || true
    perf_pid=
  }

  for _ in $(seq 1200); do
    first=$(awk '$2 >= 0 {print $1; exit}' "$record" 2>/dev/null || true)
    [ -n "$first" ] && break
    sleep 0.1
  done
  [ -n "$first" ] || { echo "$label: the channel never answered; $(tail -5 "$side.log")" >&2; exit 1; }
  t_idle=$(echo "$first + 10" | bc -l)
  phase fill "$first" "$t_idle"
  phase idle "$t_idle" "$(echo "$first + 20" | bc -l)"
  profile_start fill
  sleep "$(echo "$t_idle - $(now)" | bc -l)"
  profile_stop
  sleep "$(echo "$first + 20 - $(now)" | bc -l)"

  profile_start connect
  t_conn=$(now)
  id=$(ask 10 10.198.78.2 8388 "" "cda ss pass" 6 aes-256-gcm "" "" "" "")
  ask 2 "$id" >/dev/null
  ask 4 0 >/dev/null
  ask 20 1 10.198.79.1/10.198.79.2 >/dev/null
  until state_is connecting || state_is connected; do ask 5 >/dev/null; sleep 0.05; done
  until state_is connected; do sleep 0.05; done
  sleep 1
  t=$(now)
  phase connect "$t_conn" "$t"
  profile_stop

  ip netns exec "$app" curl -sS -o /dev/null "http://10.198.77.2/big"
  phase download "$t" "$(now)"

  t=$(now)
  ask 6 >/dev/null
  until state_is disconnected; do sleep 0.05; done
  sleep 1
  phase disconnect "$t" "$(now)"

  kill "$pinger_pid"
  wait "$pinger_pid" || true
  pinger_pid=
  ask 1 >/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
  echo "== $label ($build), load: $(cut -d' ' -f1-3 /proc/loadavg)"
  python3 "$tools/phase_stats.py" "$record" "$phases"
}

for r in $(seq "$rounds"); do
  i=0
  for b in "$@"; do
    i=$((i + 1))
    measure "$b" "round$r-build$i"
  done
done
