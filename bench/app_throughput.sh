#!/usr/bin/env bash
# The whole program on the road of a download, in one run, in throwaway
# namespaces (scripts/app-topology.sh; nothing leaves them):
#   - curl through the program connected in global mode to ss-server
#     (aes-256-gcm) (the TUN device, the engine, the local proxy service, the
#     node), downloads and uploads, 1 and 8 streams;
#   - beside it, ss-local to the same ss-server with curl --socks5-hostname
#     (what a Shadowsocks user gets without the program);
#   - CPU seconds per GiB moved of the program's process, and the connect and
#     disconnect times (command sent until the state says "connected", or
#     until the program reports "Disconnected!", the network put back).
#
# usage (as root): bench/app_throughput.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release (cmake -S . -B build/release
#   -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target cendrow).
# Sizes through the environment: MIB (512, the single stream), EACH_MIB (128,
# per stream of the 8-stream rows).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
mib=${MIB:-512}
each_mib=${EACH_MIB:-128}
client=$root/bench/tools/channel_client.py

[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)" >&2; exit 1; }
[ -x "$build/program/cendrow" ] || { echo "build cendrow in $build first" >&2; exit 1; }

# shellcheck source=lib/app_topology.sh
. "$root/bench/lib/app_topology.sh"
bench_app_topology bench
# Uploads go to a server that reads them whole and answers with their hash.
ip netns exec "cda-server-$tag" python3 "$root/tests/support/server_peers.py" http 10.198.77.2 8080 \
  "$dir/peers/www" > "$dir/uploads.log" 2>&1 < /dev/null &
disown
ip netns exec "$app" ss-local -s 10.198.78.2 -p 8388 -k "cda ss pass" -m aes-256-gcm -b 127.0.0.1 -l 1090 \
  > "$dir/ss-local.log" 2>&1 < /dev/null &
disown
head -c $((mib << 20)) /dev/urandom > "$dir/peers/www/big"
head -c $((each_mib << 20)) /dev/urandom > "$dir/peers/www/each"
cp -r "$build/program" "$dir/program"
mkdir -m 700 -p "$dir/run" "$dir/data"
run=$dir/run/cendrow

ip netns exec "$app" env -u CENDROW_HOST_GUARD XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data" \
  "$dir/program/cendrow" > "$dir/program.log" 2>&1 &
pid=$!
ask() { "$bench_python" "$client" "$run" "$@"; }
for _ in $(seq 300); do ask 13 >/dev/null 2>&1 && break; sleep 0.1; done
for _ in $(seq 300); do ip netns exec "$app" ip link show cendrow >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1

now() { date +%s.%N; }
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
ticks=$(getconf CLK_TCK)
state_is() { [ "$(ask 11)" = "$1" ]; }

id=$(ask 10 10.198.78.2 8388 "" "cda ss pass" 6 aes-256-gcm "" "" "" "")
ask 2 "$id" >/dev/null
ask 4 0 >/dev/null
ask 20 1 10.198.79.1/10.198.79.2 >/dev/null
t0=$(now)
until state_is connecting || state_is connected; do ask 5 >/dev/null; sleep 0.2; done
until state_is connected; do sleep 0.05; done
t1=$(now)
connect_s=$(echo "$t1 - $t0" | bc -l)

# One curl per stream, a download (get) or an upload (put); prints MiB/s
# over the whole transfer.
streams() {
  local n=$1 file=$2 size=$3 proxy=$4 way=${5:-get} i s e pids=()
  s=$(now)
  for i in $(seq "$n"); do
    if [ "$way" = get ]; then
      ip netns exec "$app" curl -s $proxy -o /dev/null "http://10.198.77.2/$file" &
    else
      ip netns exec "$app" curl -s $proxy -H 'Expect:' -o /dev/null -T "$dir/peers/www/$file" \
        "http://10.198.77.2:8080/up" &
    fi
    pids+=($!)
  done
  for i in "${pids[@]}"; do wait "$i"; done
  e=$(now)
  echo "$n * $size / ($e - $s)" | bc -l
}

c0=$(cpu)
through1=$(streams 1 big "$mib" "")
through8=$(streams 8 each "$each_mib" "")
up1=$(streams 1 big "$mib" "" put)
up8=$(streams 8 each "$each_mib" "" put)
c1=$(cpu)
moved_gib=$(echo "2 * ($mib + 8 * $each_mib) / 1024" | bc -l)
cpu_per_gib=$(echo "($c1 - $c0) / $ticks / $moved_gib" | bc -l)

n=$(bench_status_count "$dir/program.log" "Disconnected!")
t0=$(now)
ask 6 >/dev/null
until [ "$(bench_status_count "$dir/program.log" "Disconnected!")" -gt "$n" ]; do sleep 0.05; done
t1=$(now)
disconnect_s=$(echo "$t1 - $t0" | bc -l)

direct1=$(streams 1 big "$mib" "--socks5-hostname 127.0.0.1:1090")
direct8=$(streams 8 each "$each_mib" "--socks5-hostname 127.0.0.1:1090")
dup1=$(streams 1 big "$mib" "--socks5-hostname 127.0.0.1:1090" put)
dup8=$(streams 8 each "$each_mib" "--socks5-hostname 127.0.0.1:1090" put)
ask 1 >/dev/null || true
wait "$pid" 2>/dev/null || true
pid=

row() { printf '%-44s %10.1f %10.1f\n' "$1" "$2" "$3"; }
ratio() { printf '%-44s %9.1f%% %9.1f%%\n' "$1" "$(echo "100 * $2 / $4" | bc -l)" "$(echo "100 * $3 / $5" | bc -l)"; }
printf '%-44s %10s %10s\n' "MiB/s" "1 stream" "8 streams"
row "download through the program (ss-server)" "$through1" "$through8"
row "download through ss-local" "$direct1" "$direct8"
ratio "download program / ss-local" "$through1" "$through8" "$direct1" "$direct8"
row "upload through the program (ss-server)" "$up1" "$up8"
row "upload through ss-local" "$dup1" "$dup8"
ratio "upload program / ss-local" "$up1" "$up8" "$dup1" "$dup8"
printf 'program CPU seconds per GiB: %.2f\n' "$cpu_per_gib"
printf 'connect: %.2f s, disconnect: %.2f s\n' "$connect_s" "$disconnect_s"
