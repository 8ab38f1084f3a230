#!/usr/bin/env bash
# The local proxy service against the SOCKS server it relays through, in one
# run, in a throwaway network namespace (nothing leaves it):
#   - throughput with curl, 1 and 8 streams, down and up: straight to the
#     servers (the ceiling), through danted with --socks5, and through the
#     local proxy with danted as its node; CPU seconds per GiB moved of the
#     local proxy process and of danted (all its processes), from /proc/<pid>/stat;
#   - connection rate: COUNT short exchanges (SOCKS CONNECT, a small HTTP GET,
#     close) at concurrency 50, straight through danted and through the local
#     proxy, with the set-up time (connect until the SOCKS reply) at p50/p99;
#   - capacity: 600 idle relayed connections to the local proxy (how many are
#     served, how many closed at once), threads, descriptors and memory per
#     connection, and how long StopLocalProxy takes with them open.
#
# usage (as root): bench/local_proxy_bench.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release (cmake -S . -B build/release
#   -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target
#   local_proxy_runner socks_load).
# Sizes through the environment: DOWN_MIB (1024), UP_MIB (512),
# EACH_MIB (256, per stream of the 8-stream rows), ROUNDS (3, medians shown),
# COUNT (10000 exchanges).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib/netns_peers.sh"
build=${1:-$root/build/release}
runner=$build/bench/local_proxy_runner
load=$build/bench/socks_load
down_mib=${DOWN_MIB:-1024}
up_mib=${UP_MIB:-512}
each_mib=${EACH_MIB:-256}
rounds=${ROUNDS:-3}
count=${COUNT:-10000}
streams=8

bench_need_root
[ -x "$runner" ] && [ -x "$load" ] || { echo "build local_proxy_runner and socks_load in $build first" >&2; exit 1; }

bench_netns lpbench
mkdir -p "$dir/www"
head -c "${down_mib}M" /dev/urandom > "$dir/www/down"
head -c "${up_mib}M" /dev/urandom > "$dir/www/up"
head -c "${each_mib}M" /dev/urandom > "$dir/www/each"
head -c 512 /dev/urandom > "$dir/www/small"

start_danted
start_web_servers 'keepalive_timeout 300;'
wait_listening "$ns" 1080
wait_listening "$ns" 8080
wait_listening "$ns" 8081

# The local proxy. Started by ip netns exec itself, not through the in_ns
# function: ip netns exec becomes the runner, so $! is the runner's own pid
# (a function would leave a subshell in between, which the signals below
# would end and whose CPU time would be read instead).
ip netns exec "$ns" "$runner" 16666 socks5 127.0.0.1 1080 > "$dir/runner.log" 2>&1 &
proxy=$!
wait_running "$dir/runner.log" || { cat "$dir/runner.log" >&2; exit 1; }

proxy_ticks() { ticks "$proxy"; }
danted_ticks() {
  local pid total=0 t
  for pid in $(ip netns pids "$ns"); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = danted ] || continue
    t=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    total=$((total + t))
  done
  echo "$total"
}

# transfer VIA DIRECTION STREAMS FILE MIB -> "<MB/s> <proxy CPU s/GiB> <danted CPU s/GiB>"
transfer() {
  local via=$1 direction=$2 n=$3 file=$4 mib=$5
  local proxyopt=() t0 t1 p0 p1 d0 d1
  case $via in
    direct) ;;
    danted) proxyopt=(--socks5 127.0.0.1:1080) ;;
    ours) proxyopt=(--socks5 127.0.0.1:16666) ;;
  esac
  p0=$(proxy_ticks); d0=$(danted_ticks); t0=$(now_ns)
  curl_streams "a $via $direction transfer failed" "$direction" "$n" "$file" "${proxyopt[@]}"
  t1=$(now_ns); p1=$(proxy_ticks); d1=$(danted_ticks)
  awk -v mib="$mib" -v n="$n" -v ns=$((t1 - t0)) -v pt=$((p1 - p0)) -v dt=$((d1 - d0)) -v hz="$hz" -v via="$via" \
    'BEGIN { bytes = mib * n * 1048576; gib = bytes / 1073741824;
             printf "%.1f %s %s\n", bytes / (ns / 1e9) / 1e6,
               via == "ours" ? sprintf("%.2f", pt / hz / gib) : "-",
               via == "direct" ? "-" : sprintf("%.2f", dt / hz / gib) }'
}

echo "## Throughput (medians of $rounds runs, the three ways taking turns)"
echo
printf '| transfer | streams | direct MB/s | danted MB/s | ours MB/s | ours / danted | ours CPU s/GiB | danted CPU s/GiB (alone) | danted CPU s/GiB (behind ours) |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
row() {
  local direction=$1 n=$2 file=$3 mib=$4
  local r a b c x y z direct=() danted=() ours=() ourcpu=() dcpu=() dcpu2=()
  for r in $(seq "$rounds"); do
    read -r a _ _ < <(transfer direct "$direction" "$n" "$file" "$mib")
    read -r b _ x < <(transfer danted "$direction" "$n" "$file" "$mib")
    read -r c y z < <(transfer ours "$direction" "$n" "$file" "$mib")
    direct+=("$a"); danted+=("$b"); ours+=("$c"); dcpu+=("$x"); ourcpu+=("$y"); dcpu2+=("$z")
  done
  a=$(echo "${direct[*]}" | median); b=$(echo "${danted[*]}" | median); c=$(echo "${ours[*]}" | median)
  x=$(echo "${dcpu[*]}" | median); y=$(echo "${ourcpu[*]}" | median); z=$(echo "${dcpu2[*]}" | median)
  printf '| %s %s MiB | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$direction" "$mib" "$n" "$a" "$b" "$c" \
    "$(awk -v c="$c" -v b="$b" 'BEGIN { printf "%.0f%%", 100 * c / b }')" "$y" "$x" "$z"
}
row down 1 down "$down_mib"
row down "$streams" each "$each_mib"
row up 1 up "$up_mib"
row up "$streams" each "$each_mib"

echo
echo "## Connection rate ($count exchanges at concurrency 50)"
echo
printf '| via | exchanges/s | set-up p50 ms | set-up p99 ms | set-up max ms | failures |\n|---|---|---|---|---|---|\n'
for via in danted ours; do
  port=1080; [ "$via" = ours ] && port=16666
  line=$(in_ns "$ns" "$load" rate "$port" 8080 /small "$count" 50)
  echo "$line" | awk -v via="$via" '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    printf "| %s | %s | %s | %s | %s | %s |\n", via, v["rate"], v["p50_ms"], v["p99_ms"], v["max_ms"], v["failures"] }'
done

echo
echo "## Capacity (600 idle relayed connections)"
echo
stats() {
  local before
  before=$(grep -c '^stats' "$dir/runner.log" || true)
  kill -USR1 "$proxy"
  for _ in $(seq 100); do
    [ "$(grep -c '^stats' "$dir/runner.log" || true)" -gt "$before" ] && break
    sleep 0.02
  done
  grep '^stats' "$dir/runner.log" | tail -1
}
field() { echo "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'; }
sleep 1  # connections of the rate test wind down
idle=$(stats)
mkfifo "$dir/hold.in"
in_ns "$ns" "$load" hold 16666 8080 600 < "$dir/hold.in" > "$dir/hold.log" 2>&1 &
holder=$!
exec 4> "$dir/hold.in"
for _ in $(seq 600); do grep -q holding "$dir/hold.log" && break; sleep 0.1; done
held=$(stats)
n=$(field "$held" connections)
echo "- $(head -1 "$dir/hold.log") (of 600)"
echo "- idle service: $idle"
echo "- with them:    $held"
awk -v n="$n" -v t0="$(field "$idle" threads)" -v t1="$(field "$held" threads)" \
    -v f0="$(field "$idle" fds)" -v f1="$(field "$held" fds)" \
    -v r0="$(field "$idle" rss_kib)" -v r1="$(field "$held" rss_kib)" \
    'BEGIN { if (n > 0) printf "- per connection: %.2f threads, %.2f descriptors, %.1f KiB RSS\n",
             (t1 - t0) / n, (f1 - f0) / n, (r1 - r0) / n }'
kill -TERM "$proxy"
wait "$proxy" || true
echo "- $(grep 'stopped in' "$dir/runner.log") with $n connections open"
echo "- after the stop: $(grep '^stats' "$dir/runner.log" | tail -1)"
exec 4>&-
wait "$holder" || true
echo
echo "Machine: $(nproc) cores, shared with other work while this ran."
