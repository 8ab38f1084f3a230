#!/usr/bin/env bash
# Whole-engine throughput on the end-to-end topology (scripts/engine-topology.sh):
# large curl downloads and uploads from the app namespace through the engine
# and, in the same run, the same transfers straight to the SOCKS server with
# curl --socks5 and no engine (the ceiling the engine can approach); the
# engine's CPU seconds per GiB moved, from /proc/<pid>/stat of the engine
# process; and, for uploads, the bound that the stack's fixed 5840-byte receive
# window sets: window / round-trip time through the engine (ping of 10.198.75.61).
#
# usage (as root): bench/engine_throughput.sh [RUNNER]
#   RUNNER defaults to build/release/bench/tun2socks_runner (an optimised build:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
#   cmake --build build/release --target tun2socks_runner).
# Sizes in MiB through the environment: DOWN_MIB (512), UP_MIB (256),
# DOWN_EACH_MIB (128) and UP_EACH_MIB (64) for the 8-stream rows; ROUNDS (3)
# runs of each, of which the medians are shown.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runner=${1:-$root/build/release/bench/tun2socks_runner}
down_mib=${DOWN_MIB:-512}
up_mib=${UP_MIB:-256}
down_each_mib=${DOWN_EACH_MIB:-128}
up_each_mib=${UP_EACH_MIB:-64}
rounds=${ROUNDS:-3}
streams=8
window=5840

[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)" >&2; exit 1; }
[ -x "$runner" ] || { echo "no engine runner at $runner" >&2; exit 1; }

topology="$root/scripts/engine-topology.sh"
tag=bench$$
app=cdr-app-$tag
dir=$(mktemp -d /tmp/cdr-bench.XXXXXX)
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

ip netns exec "$app" "$runner" tap0901:ctun0:10.198.75.60:10.198.75.0:255.255.255.0 \
  10.198.75.61 255.255.255.0 10.198.76.2:1080 > "$dir/runner.log" 2>&1 &
engine=$!
disown "$engine"  # ended with the topology; no job notice
for _ in $(seq 100); do
  grep -q running "$dir/runner.log" && break
  kill -0 "$engine" 2>/dev/null || { cat "$dir/runner.log" >&2; exit 1; }
  sleep 0.05
done
grep -q running "$dir/runner.log" || { echo "the engine did not start" >&2; exit 1; }
bash "$topology" routes "$tag"

ticks_per_second=$(getconf CLK_TCK)
engine_ticks() { awk '{print $14 + $15}' "/proc/$engine/stat"; }
now_ns() { date +%s%N; }

# transfer MODE DIRECTION STREAMS FILE MIB: runs the transfers at once and
# prints "<MB/s> <CPU seconds per GiB>" (the CPU figure only through the engine).
transfer() {
  local mode=$1 direction=$2 n=$3 file=$4 mib=$5
  local proxy=() pids=() i t0 t1 c0 c1
  [ "$mode" = direct ] && proxy=(--socks5 10.198.76.2:1080)
  c0=$(engine_ticks)
  t0=$(now_ns)
  for i in $(seq "$n"); do
    if [ "$direction" = down ]; then
      ip netns exec "$app" curl -sS "${proxy[@]}" -o /dev/null "http://10.198.77.2/$file" &
    else
      ip netns exec "$app" curl -sS "${proxy[@]}" -H 'Expect:' -o /dev/null -T "$dir/www/$file" \
        "http://10.198.77.2:8080/up" &
    fi
    pids+=($!)
  done
  for i in "${pids[@]}"; do
    wait "$i" || { echo "a $mode $direction transfer failed" >&2; exit 1; }
  done
  t1=$(now_ns)
  c1=$(engine_ticks)
  awk -v mib="$mib" -v n="$n" -v ns=$((t1 - t0)) -v ticks=$((c1 - c0)) -v hz="$ticks_per_second" -v mode="$mode" \
    'BEGIN { bytes = mib * n * 1048576; printf "%.1f %s\n", bytes / (ns / 1e9) / 1e6,
             mode == "engine" ? sprintf("%.2f", (ticks / hz) / (bytes / 1073741824)) : "-" }'
}

rtt_ms=$(ip netns exec "$app" ping -q -c 50 -i 0.01 10.198.75.61 | awk -F/ '/^rtt/ {print $5}')
bound=$(awk -v w="$window" -v rtt="$rtt_ms" 'BEGIN { printf "%.1f", w / (rtt / 1000) / 1e6 }')

median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '| transfer | streams | through engine MB/s | direct SOCKS MB/s | engine / direct | engine / window bound | engine CPU s per GiB |\n'
printf '|---|---|---|---|---|---|---|\n'
# One row: the medians of ROUNDS runs, engine and direct taking turns.
row() {
  local direction=$1 n=$2 file=$3 mib=$4
  local rates=() cpus=() directs=() r e_rate e_cpu d_rate
  for r in $(seq "$rounds"); do
    read -r e_rate e_cpu < <(transfer engine "$direction" "$n" "$file" "$mib")
    read -r d_rate _ < <(transfer direct "$direction" "$n" "$file" "$mib")
    rates+=("$e_rate")
    cpus+=("$e_cpu")
    directs+=("$d_rate")
  done
  e_rate=$(echo "${rates[*]}" | median)
  e_cpu=$(echo "${cpus[*]}" | median)
  d_rate=$(echo "${directs[*]}" | median)
  local ratio bound_ratio="-"
  ratio=$(awk -v e="$e_rate" -v d="$d_rate" 'BEGIN { printf "%.0f%%", 100 * e / d }')
  if [ "$direction" = up ]; then
    # Each stream is bounded on its own.
    bound_ratio=$(awk -v e="$e_rate" -v b="$bound" -v n="$n" 'BEGIN { printf "%.0f%% of %.1f", 100 * e / (b * n), b * n }')
  fi
  printf '| %s %s MiB | %s | %s | %s | %s | %s | %s |\n' "$direction" "$mib" "$n" "$e_rate" "$d_rate" "$ratio" \
    "$bound_ratio" "$e_cpu"
}
row down 1 down "$down_mib"
row down "$streams" down-each "$down_each_mib"
row up 1 up "$up_mib"
row up "$streams" up-each "$up_each_mib"
printf '\nmedians of %s runs; round trip through the engine (ping 10.198.75.61): %s ms; upload bound per stream %s / RTT = %s MB/s\n' \
  "$rounds" "$rtt_ms" "$window" "$bound"
