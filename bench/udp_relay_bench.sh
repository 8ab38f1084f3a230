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
#
# usage (as root): bench/udp_relay_bench.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release (cmake --build build/release --target
#   local_proxy_runner udp_load). SECONDS_EACH (5) per row.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runner=$build/bench/local_proxy_runner
load=$build/bench/udp_load
each=${SECONDS_EACH:-5}

[ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace)" >&2; exit 1; }
[ -x "$runner" ] && [ -x "$load" ] || { echo "build local_proxy_runner and udp_load in $build first" >&2; exit 1; }

ns=cdr-udpbench-$$
dir=$(mktemp -d /tmp/cdr-udpbench.XXXXXX)
cleanup() {
  local pid
  if ip netns list | awk '{print $1}' | grep -qxF "$ns"; then
    # Everything inside was started by this script.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
    ip netns del "$ns"
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
in_ns() { ip netns exec "$ns" "$@"; }

ip netns add "$ns"
in_ns ip link set lo up
ulimit -n 65536

cat > "$dir/danted.conf" <<END
logoutput: $dir/danted.log
internal: 127.0.0.1 port = 1080
external: lo
socksmethod: none
clientmethod: none
user.privileged: root
user.unprivileged: nobody
client pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }
socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }
END
in_ns danted -D -f "$dir/danted.conf"
in_ns "$load" echo 127.0.0.1 7 > /dev/null 2>&1 &
in_ns ss-server -s 127.0.0.1 -p 8388 -k bench-pw -m aes-256-gcm -u > "$dir/ss-server.log" 2>&1 &
in_ns ss-local -s 127.0.0.1 -p 8388 -b 127.0.0.1 -l 1081 -k bench-pw -m aes-256-gcm -u > "$dir/ss-local.log" 2>&1 &

wait_port() {
  local i
  for i in $(seq 200); do
    in_ns ss -Htln "sport = :$1" | grep -q . && return 0
    sleep 0.05
  done
  echo "nothing listens on port $1" >&2
  exit 1
}
wait_port 1080
wait_port 8388
wait_port 1081

start_runner() {
  in_ns "$runner" "$@" > "$dir/runner.log" 2>&1 &
  runner_pid=$!
  for _ in $(seq 100); do grep -q running "$dir/runner.log" && return 0; sleep 0.05; done
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
  printf '%-12s %5s B %4s flows  %s\n' "$name" "$size" "$flows" "$(in_ns "$load" "$@" 2>&1 | tail -1)"
}

for size in 64 1200; do
  for flows in 1 100 400; do
    row echo "$size" "$flows" direct "$flows" "$size" "$each" 127.0.0.1 7
    row danted "$size" "$flows" socks5 "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 1080
    if start_runner 16666 socks5 127.0.0.1 1080; then
      row 'ours>danted' "$size" "$flows" udpgw "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 16666
      stop_runner
    fi
    row ss-local "$size" "$flows" shared "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 1081
    if start_runner 16666 ss 127.0.0.1 8388 aes-256-gcm bench-pw; then
      row 'ours>ss' "$size" "$flows" udpgw "$flows" "$size" "$each" 127.0.0.1 7 127.0.0.1 16666
      stop_runner
    else
      printf '%-12s %5s B %4s flows  (the runner serves no Shadowsocks node)\n' 'ours>ss' "$size" "$flows"
    fi
  done
done
