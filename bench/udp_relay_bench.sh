#!/usr/bin/env bash
# UDP through the local proxy's relay loop against its peers, in one run, in
# a throwaway network namespace (nothing leaves it). For 64- and 1200-byte
# datagrams and 1, 100 and 400 flows (one datagram in flight per flow), the
# datagrams answered per second and the round trip at p50/p99 of:
#   echo        straight to the UDP echo (the ceiling);
#   danted      SOCKS 5 UDP straight to danted (an association per flow);
#   ours>danted the udpgw stream through our listener, danted as node;
#   ss-local    SOCKS 5 UDP through shadowsocks-libev's ss-local to ss-server;
#   ours>ss     the udpgw stream through our listener, ss-server as node
#               (when the runner serves Shadowsocks nodes).
# Each row also shows p99 with lost datagrams counted as the slowest
# (p99_lost), p99 without each flow's first answer (p99_later: through the
# udpgw stream the first one waits for the flow's session to start, which the
# other modes set up before the clock runs) and that first answer's p50/max.
#
# usage (as root): bench/udp_relay_bench.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release (cmake --build build/release --target
#   local_proxy_runner udp_load). SECONDS_EACH (5) per row; SIZES ("64 1200")
#   and FLOWS ("1 100 400") choose the rows; BASE=<another build folder> adds
#   that build's rows (base>danted, base>ss) beside ours, in the same run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib/netns_peers.sh"
build=${1:-$root/build/release}
runner=$build/bench/local_proxy_runner
# BASE=<another build folder> adds its runner's rows (base>...) beside ours.
base_runner=${BASE:+$BASE/bench/local_proxy_runner}
load=$build/bench/udp_load
each=${SECONDS_EACH:-5}

bench_need_root
[ -x "$runner" ] && [ -x "$load" ] || { echo "build local_proxy_runner and udp_load in $build first" >&2; exit 1; }

bench_netns udpbench
# As many descriptors as allowed, up to 65536 (400 flows need far fewer).
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"

start_danted
in_ns "$ns" "$load" echo 127.0.0.1 7 > /dev/null 2>&1 &
in_ns "$ns" ss-server -s 127.0.0.1 -p 8388 -k bench-pw -m aes-256-gcm -u > "$dir/ss-server.log" 2>&1 &
in_ns "$ns" ss-local -s 127.0.0.1 -p 8388 -b 127.0.0.1 -l 1081 -k bench-pw -m aes-256-gcm -u > "$dir/ss-local.log" 2>&1 &
wait_listening "$ns" 1080
wait_listening "$ns" 8388
wait_listening "$ns" 1081

# start_runner BINARY ARG...: the runner as a child of ours ($runner_pid).
start_runner() {
  local binary=$1
  shift
  in_ns "$ns" "$binary" "$@" > "$dir/runner.log" 2>&1 &
  runner_pid=$!
  wait_running "$dir/runner.log" && return 0
  kill "$runner_pid" 2>/dev/null || true
  wait "$runner_pid" 2>/dev/null || true
  return 1
}
stop_runner() {
  kill "$runner_pid" 2>/dev/null || true
  wait "$runner_pid" 2>/dev/null || true
}

row() {
  local name=$1 size=$2 flows=$3
  shift 3
  printf '%-12s %5s B %4s flows  %s\n' "$name" "$size" "$flows" "$(in_ns "$ns" "$load" "$@" 2>&1 | tail -1)"
}

# ours_rows NAME BINARY SIZE FLOWS: the rows of one runner build.
ours_rows() {
  local name=$1 binary=$2 size=$3 flows=$4
  if start_runner "$binary" 16666 socks5 127.0.0.1 1080; then
    row "$name>danted" "$size" "$flows" udpgw "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 16666
    stop_runner
  fi
  if start_runner "$binary" 16666 ss 127.0.0.1 8388 aes-256-gcm bench-pw; then
    row "$name>ss" "$size" "$flows" udpgw "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 16666
    stop_runner
  else
    printf '%-12s %5s B %4s flows  (the runner serves no Shadowsocks node)\n' "$name>ss" "$size" "$flows"
  fi
}

for size in ${SIZES:-64 1200}; do
  for flows in ${FLOWS:-1 100 400}; do
    row echo "$size" "$flows" direct "$flows" "$size" "$each" 127.0.0.1 7
    row danted "$size" "$flows" socks5 "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 1080
    row ss-local "$size" "$flows" shared "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 1081
    [ -n "$base_runner" ] && ours_rows base "$base_runner" "$size" "$flows"
    ours_rows ours "$runner" "$size" "$flows"
  done
done
