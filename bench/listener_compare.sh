#!/usr/bin/env bash
# The local listener of two builds side by side in one run, in a throwaway
# network namespace (nothing leaves it), both relaying through the same
# danted: the base build's runner on 127.0.0.1:16667, this build's on 16666.
#   - connection rate: COUNT short exchanges (SOCKS CONNECT, a small HTTP GET,
#     close) at concurrency 50 and 500, straight through danted and through
#     each runner, with the set-up time (connect until the SOCKS reply);
#   - many at once: HOLD (2000) relayed connections opened and kept open:
#     how many are served, how many closed at once, threads and descriptors;
#   - idle clients: IDLE (2000) connections that never send a byte, then 10
#     normal exchanges: how many are served within 5 s, the slowest one.
#
# usage (as root): bench/listener_compare.sh BASE_BUILD_DIR [BUILD_DIR]
#   Both need local_proxy_runner; socks_load comes from BUILD_DIR, which
#   defaults to build/release. COUNT (5000), HOLD (2000), IDLE (2000).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib/netns_peers.sh"
base=${1:?the base build folder}
build=${2:-$root/build/release}
count=${COUNT:-5000}
hold=${HOLD:-2000}
idle=${IDLE:-2000}
load=$build/bench/socks_load

bench_need_root
for b in "$base" "$build"; do
  [ -x "$b/bench/local_proxy_runner" ] || { echo "build local_proxy_runner in $b first" >&2; exit 1; }
done
[ -x "$load" ] || { echo "build socks_load in $build first" >&2; exit 1; }
ulimit -n "$(ulimit -Hn)"

bench_netns lpcompare
mkdir -p "$dir/www"
head -c 512 /dev/urandom > "$dir/www/small"
start_danted
start_web_servers 'keepalive_timeout 300;'
wait_listening "$ns" 1080
wait_listening "$ns" 8080

# start_runner NAME BUILD PORT: the runner as a direct child (its pid in $!).
declare -A pid
start_runner() {
  ip netns exec "$ns" "$2/bench/local_proxy_runner" "$3" socks5 127.0.0.1 1080 > "$dir/$1.log" 2>&1 &
  pid[$1]=$!
  wait_running "$dir/$1.log" || { cat "$dir/$1.log" >&2; exit 1; }
}
start_runner base "$base" 16667
start_runner ours "$build" 16666
port_of() { case $1 in danted) echo 1080 ;; base) echo 16667 ;; ours) echo 16666 ;; esac; }
stats() {
  local name=$1 before
  before=$(grep -c '^stats' "$dir/$name.log" || true)
  kill -USR1 "${pid[$name]}"
  for _ in $(seq 100); do
    [ "$(grep -c '^stats' "$dir/$name.log" || true)" -gt "$before" ] && break
    sleep 0.02
  done
  grep '^stats' "$dir/$name.log" | tail -1
}

echo "## Connection rate ($count exchanges)"
echo
printf '| via | concurrency | exchanges/s | set-up p50 ms | set-up p99 ms | set-up max ms | failures |\n|---|---|---|---|---|---|---|\n'
for c in 50 500; do
  for via in danted base ours; do
    line=$(in_ns "$ns" "$load" rate "$(port_of "$via")" 8080 /small "$count" "$c" || true)
    echo "$line" | awk -v via="$via" -v c="$c" '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      printf "| %s | %s | %s | %s | %s | %s | %s |\n", via, c, v["rate"], v["p50_ms"], v["p99_ms"], v["max_ms"], v["failures"] }'
    sleep 1
  done
done

echo
echo "## $hold relayed connections held open at once"
echo
for via in base ours; do
  mkfifo "$dir/hold-$via.in"
  in_ns "$ns" "$load" hold "$(port_of "$via")" 8080 "$hold" < "$dir/hold-$via.in" > "$dir/hold-$via.log" 2>&1 &
  holder=$!
  exec 4> "$dir/hold-$via.in"
  for _ in $(seq 1200); do grep -q holding "$dir/hold-$via.log" && break; sleep 0.1; done
  echo "- $via: $(head -1 "$dir/hold-$via.log"); $(stats "$via")"
  exec 4>&-
  wait "$holder" || true
  sleep 2
done

echo
echo "## $idle idle connections, then 10 normal exchanges"
echo
for via in base ours; do
  echo "- $via: $(in_ns "$ns" "$load" idle "$(port_of "$via")" 8080 /small "$idle" || true)"
  sleep 2
done
echo
echo "Machine: $(nproc) cores, shared with other work while this ran."
