#!/usr/bin/env bash
# Whole-engine throughput on the end-to-end topology (scripts/engine-topology.sh):
# large curl downloads and uploads from the app namespace through the engine
# and, in the same run, the same transfers straight to the SOCKS server with
# curl --socks5 and no engine (the ceiling the engine can approach); the
# engine's CPU seconds per GiB moved, from /proc/<pid>/stat of the engine
# process; single downloads with netem on the TUN device (1% loss, 5%
# reordering; without netem, random loss by nftables) and 5% loss both ways
# (a transfer gets 300 s); single transfers with 1% loss of the engine's
# data (downloads) and of the application's data (uploads) beside the same
# without loss; the round trip through the engine (ping of 10.198.75.61 and
# 2,000 one-byte exchanges with an echo server); and the engine's RSS idle,
# with 2,000 idle connections, with 2,000 connections whose windows are full,
# and after they closed.
#
# Several engine builds can be measured side by side in one run: every round
# runs each of them and the direct path in turn, on the same topology.
#
# usage (as root): bench/engine_throughput.sh [NAME=RUNNER ...]
#   RUNNER defaults to build/release/bench/tun2socks_runner (an optimised build:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release &&
#   cmake --build build/release --target tun2socks_runner).
# Sizes in MiB through the environment: DOWN_MIB (512), UP_MIB (256),
# DOWN_EACH_MIB (128) and UP_EACH_MIB (64) for the 8-stream rows, LOSS_MIB (32)
# for the rows under netem; ROUNDS (3) runs of each, of which the medians are
# shown.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
down_mib=${DOWN_MIB:-512}
up_mib=${UP_MIB:-256}
down_each_mib=${DOWN_EACH_MIB:-128}
up_each_mib=${UP_EACH_MIB:-64}
loss_mib=${LOSS_MIB:-32}
rounds=${ROUNDS:-3}
streams=8

names=()
runners=()
if [ $# -eq 0 ]; then
  set -- "engine=$root/build/release/bench/tun2socks_runner"
fi
for arg in "$@"; do
  if [[ "$arg" == *=* ]]; then
    names+=("${arg%%=*}")
    runners+=("${arg#*=}")
  else
    names+=("engine")
    runners+=("$arg")
  fi
done

[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)" >&2; exit 1; }
for r in "${runners[@]}"; do
  [ -x "$r" ] || { echo "no engine runner at $r" >&2; exit 1; }
done

topology="$root/scripts/engine-topology.sh"
tag=bench$$
app=cdr-app-$tag
dir=$(mktemp -d /tmp/cdr-bench.XXXXXX)
engine=""
cleanup() {
  bash "$topology" delete "$tag" || true  # ends the engine and the servers too
  rm -rf "$dir"
}
trap cleanup EXIT

bash "$topology" create "$tag"
bash "$topology" peers "$tag" "$dir"
head -c "${down_mib}M" /dev/urandom > "$dir/www/down"
head -c "${up_mib}M" /dev/urandom > "$dir/www/up"
head -c "${down_each_mib}M" /dev/urandom > "$dir/www/down-each"
head -c "${up_each_mib}M" /dev/urandom > "$dir/www/up-each"
head -c "${loss_mib}M" /dev/urandom > "$dir/www/loss"

stop_engine() {
  if [ -n "$engine" ]; then
    kill "$engine" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$engine" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$engine" 2>/dev/null || true
    engine=""
  fi
}

# start_engine RUNNER: the engine on ctun0, routes through it.
start_engine() {
  stop_engine
  : > "$dir/runner.log"
  ip netns exec "$app" "$1" tap0901:ctun0:10.198.75.60:10.198.75.0:255.255.255.0 \
    10.198.75.61 255.255.255.0 10.198.76.2:1080 > "$dir/runner.log" 2>&1 &
  engine=$!
  disown "$engine"  # ended with the topology; no job notice
  for _ in $(seq 200); do
    grep -q running "$dir/runner.log" && break
    kill -0 "$engine" 2>/dev/null || { cat "$dir/runner.log" >&2; exit 1; }
    sleep 0.05
  done
  grep -q running "$dir/runner.log" || { echo "the engine did not start" >&2; exit 1; }
  bash "$topology" routes "$tag"
}

ticks_per_second=$(getconf CLK_TCK)
engine_ticks() { awk '{print $14 + $15}' "/proc/$engine/stat"; }
now_ns() { date +%s%N; }

# transfer MODE DIRECTION STREAMS FILE MIB: runs the transfers at once and
# prints "<MB/s> <CPU seconds per GiB>" (the CPU figure only through the
# engine); "fail -" when a transfer failed.
transfer() {
  local mode=$1 direction=$2 n=$3 file=$4 mib=$5
  local proxy=() pids=() i t0 t1 c0=0 c1=0 failed=0
  [ "$mode" = direct ] && proxy=(--socks5 10.198.76.2:1080)
  [ "$mode" = engine ] && c0=$(engine_ticks)
  t0=$(now_ns)
  for i in $(seq "$n"); do
    if [ "$direction" = down ]; then
      ip netns exec "$app" curl -sS --max-time 300 "${proxy[@]}" -o /dev/null "http://10.198.77.2/$file" &
    else
      ip netns exec "$app" curl -sS --max-time 300 "${proxy[@]}" -H 'Expect:' -o /dev/null \
        -T "$dir/www/$file" "http://10.198.77.2:8080/up" &
    fi
    pids+=($!)
  done
  for i in "${pids[@]}"; do
    wait "$i" || failed=1
  done
  t1=$(now_ns)
  [ "$mode" = engine ] && c1=$(engine_ticks)
  if [ "$failed" = 1 ]; then
    echo "fail -"
    return
  fi
  awk -v mib="$mib" -v n="$n" -v ns=$((t1 - t0)) -v ticks=$((c1 - c0)) -v hz="$ticks_per_second" -v mode="$mode" \
    'BEGIN { bytes = mib * n * 1048576; printf "%.1f %s\n", bytes / (ns / 1e9) / 1e6,
             mode == "engine" ? sprintf("%.2f", (ticks / hz) / (bytes / 1073741824)) : "-" }'
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "fail") }'; }

# The link condition on ctun0: netem where the kernel has it, else random
# loss by nftables in the app namespace (on the packets through the
# device into the engine, as netem on the device's queue would); 1 when
# neither can make it.
if ip netns exec "$app" tc qdisc replace dev ctun0 root netem loss 0% 2>/dev/null; then
  have_netem=1
  ip netns exec "$app" tc qdisc del dev ctun0 root
else
  have_netem=0
fi
impair() {
  # "engine-loss PCT": random loss of what the engine sends into the
  # application's namespace (its data on downloads), by nftables only.
  if [ "$1" = engine-loss ]; then
    command -v nft > /dev/null || return 1
    ip netns exec "$app" nft -f - <<END
table ip cdrimpair {
  chain in { type filter hook prerouting priority 0; iifname "ctun0" numgen random mod 100 < ${2%\%} drop; }
}
END
    return 0
  fi
  if [ "$have_netem" = 1 ]; then
    ip netns exec "$app" tc qdisc replace dev ctun0 root netem "$@"
    return 0
  fi
  if [ $# -eq 2 ] && [ "$1" = loss ] && command -v nft > /dev/null; then
    local pct=${2%\%}
    ip netns exec "$app" nft -f - <<END
table ip cdrimpair {
  chain out { type filter hook output priority 0; oifname "ctun0" numgen random mod 100 < $pct drop; }
}
END
    return 0
  fi
  return 1
}
unimpair() {
  if ip netns exec "$app" nft list table ip cdrimpair > /dev/null 2>&1; then
    ip netns exec "$app" nft delete table ip cdrimpair
  elif [ "$have_netem" = 1 ]; then
    ip netns exec "$app" tc qdisc del dev ctun0 root
  else
    ip netns exec "$app" nft delete table ip cdrimpair
  fi
}

# One row: ROUNDS runs, each engine and the direct path taking turns; the
# medians. With a netem argument the condition applies on ctun0 meanwhile.
row() {
  local label=$1 direction=$2 n=$3 file=$4 mib=$5
  shift 5
  local netem=("$@")
  local r i rate cpu
  declare -A rates cpus
  local directs=()
  for r in $(seq "$rounds"); do
    for i in "${!runners[@]}"; do
      start_engine "${runners[$i]}"
      if [ ${#netem[@]} -gt 0 ] && ! impair "${netem[@]}"; then
        printf '| %s | %s | %s | n/a (no netem, no nft equivalent) | - | - | - |\n' "$label" "${names[$i]}" "$n"
        continue
      fi
      read -r rate cpu < <(transfer engine "$direction" "$n" "$file" "$mib")
      [ ${#netem[@]} -gt 0 ] && unimpair
      rates[$i]="${rates[$i]:-} $rate"
      cpus[$i]="${cpus[$i]:-} $cpu"
    done
    if [ ${#netem[@]} -eq 0 ]; then
      read -r rate _ < <(transfer direct "$direction" "$n" "$file" "$mib")
      directs+=("$rate")
    fi
  done
  local d_rate="-"
  [ ${#directs[@]} -gt 0 ] && d_rate=$(echo "${directs[*]}" | median)
  for i in "${!runners[@]}"; do
    [ -n "${rates[$i]:-}" ] || continue
    local e_rate e_cpu ratio="-"
    e_rate=$(echo "${rates[$i]}" | median)
    e_cpu=$(echo "${cpus[$i]}" | median)
    if [ "$d_rate" != "-" ] && [ "$e_rate" != fail ]; then
      ratio=$(awk -v e="$e_rate" -v d="$d_rate" 'BEGIN { printf "%.0f%%", 100 * e / d }')
    fi
    printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$label" "${names[$i]}" "$n" "$e_rate" "$d_rate" "$ratio" "$e_cpu"
  done
}

printf '| transfer | engine | streams | through engine MB/s | direct SOCKS MB/s | engine / direct | engine CPU s per GiB |\n'
printf '|---|---|---|---|---|---|---|\n'
row "down $down_mib MiB" down 1 down "$down_mib"
row "down $down_each_mib MiB each" down "$streams" down-each "$down_each_mib"
row "up $up_mib MiB" up 1 up "$up_mib"
row "up $up_each_mib MiB each" up "$streams" up-each "$up_each_mib"
row "down $loss_mib MiB, loss-free" down 1 loss "$loss_mib"
row "down $loss_mib MiB, 1% loss of the engine's data" down 1 loss "$loss_mib" engine-loss 1%
row "up $loss_mib MiB, loss-free" up 1 loss "$loss_mib"
row "up $loss_mib MiB, 1% loss of the application's data" up 1 loss "$loss_mib" loss 1%
row "down $loss_mib MiB, 1% loss" down 1 loss "$loss_mib" loss 1%
row "down $loss_mib MiB, 5% reordering" down 1 loss "$loss_mib" delay 1ms reorder 5% 50%
row "down $loss_mib MiB, 5% loss" down 1 loss "$loss_mib" loss 5%
row "up $loss_mib MiB, 5% loss" up 1 loss "$loss_mib" loss 5%

# The round trip through the engine (ping of its address, and 2,000
# one-byte exchanges over one TCP connection to an echo server), and its
# RSS: idle, with 2,000 idle connections (and so per idle connection), with
# 2,000 connections whose windows are full (downloads the application does
# not read), and 15 s after those closed.
ip netns exec "cdr-server-$tag" python3 - <<'END' &
import socket, threading
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("10.198.77.2", 7007))
srv.listen(64)
def serve(c):
    c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while True:
        d = c.recv(65536)
        if not d:
            break
        c.sendall(d)
    c.close()
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
END
echo_server=$!
trap 'kill $echo_server 2>/dev/null || true; cleanup' EXIT
printf '\n| engine | ping ms | 2,000 one-byte round trips ms | RSS idle KiB | RSS 2,000 idle connections KiB | per idle connection KiB | RSS 2,000 full windows KiB | RSS 15 s after KiB |\n|---|---|---|---|---|---|---|---|\n'
# hold MODE: 2,000 connections to nginx, idle or each with a download it does not read.
hold() {
  ip netns exec "$app" python3 - "$dir/held" "$1" <<'END' &
import socket, sys, time
conns = []
for i in range(2000):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
    s.settimeout(30)
    s.connect(("10.198.77.2", 80))
    if sys.argv[2] == "full":
        s.sendall(b"GET /down HTTP/1.1\r\nHost: x\r\n\r\n")
    conns.append(s)
open(sys.argv[1], "w").write("held")
time.sleep(60)
END
  holder=$!
  for _ in $(seq 1200); do [ -s "$dir/held" ] && break; sleep 0.1; done
  sleep 5  # every connection is accepted and, with a download, its windows fill
  awk '/^VmRSS/ {print $2}' "/proc/$engine/status"
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  rm -f "$dir/held"
}
for i in "${!runners[@]}"; do
  start_engine "${runners[$i]}"
  rtt_ms=$(ip netns exec "$app" ping -q -c 50 -i 0.01 10.198.75.61 | awk -F/ '/^rtt/ {print $5}')
  pingpong_ms=$(ip netns exec "$app" python3 - <<'END'
import socket, time
s = socket.create_connection(("10.198.77.2", 7007), timeout=30)
s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
t0 = time.monotonic()
for _ in range(2000):
    s.sendall(b"x")
    if s.recv(1) != b"x":
        raise SystemExit("echo broke")
print("%.0f" % ((time.monotonic() - t0) * 1000))
END
)
  rss_idle=$(awk '/^VmRSS/ {print $2}' "/proc/$engine/status")
  rss_conns=$(hold idle)
  per_conn=$(awk -v a="$rss_conns" -v b="$rss_idle" 'BEGIN { printf "%.1f", (a - b) / 2000 }')
  sleep 15  # the idle connections are gone and their memory released
  rss_full=$(hold full)
  sleep 15
  rss_after=$(awk '/^VmRSS/ {print $2}' "/proc/$engine/status")
  printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "${names[$i]}" "$rtt_ms" "$pingpong_ms" "$rss_idle" "$rss_conns" \
    "$per_conn" "$rss_full" "$rss_after"
done
stop_engine
printf '\nmedians of %s runs\n' "$rounds"
