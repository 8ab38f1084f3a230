#!/usr/bin/env bash
# The local proxy service with a Shadowsocks node beside shadowsocks-libev's
# own client, in one run, in a throwaway network namespace (nothing leaves it):
# for aes-256-gcm, chacha20-ietf-poly1305 and aes-256-cfb, curl with 1 and 8
# streams, down and up, straight to nginx (the ceiling), through ss-local and
# through our service, both relaying through the same ss-server. CPU seconds
# per GiB moved of our process and of ss-local, from /proc/<pid>/stat
# (ss-server's is shown apart).
#
# usage (as root): bench/ss_relay_bench.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release (cmake -S . -B build/release
#   -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target local_proxy_runner).
# Sizes through the environment: DOWN_MIB (512), UP_MIB (256), EACH_MIB (128,
# per stream of the 8-stream rows), ROUNDS (3, medians shown). BASE=<another
# build folder> adds that build's runner as a column beside ours, in the same run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib/netns_peers.sh"
build=${1:-$root/build/release}
runner=$build/bench/local_proxy_runner
# BASE=<another build folder> adds its runner (port 16667) beside ours, in the same run.
base_runner=${BASE:+$BASE/bench/local_proxy_runner}
down_mib=${DOWN_MIB:-512}
up_mib=${UP_MIB:-256}
each_mib=${EACH_MIB:-128}
rounds=${ROUNDS:-3}
streams=8
password="bench p4ssw0rd"

bench_need_root
[ -x "$runner" ] || { echo "build local_proxy_runner in $build first" >&2; exit 1; }

bench_netns ssbench
mkdir -p "$dir/www"
head -c "${down_mib}M" /dev/urandom > "$dir/www/down"
head -c "${up_mib}M" /dev/urandom > "$dir/www/up"
head -c "${each_mib}M" /dev/urandom > "$dir/www/each"

start_web_servers
wait_listening "$ns" 8080
wait_listening "$ns" 8081

# transfer PORT DIRECTION STREAMS FILE MIB CLIENT_PID SERVER_PID -> "<MB/s> <client CPU s/GiB> <server CPU s/GiB>"
transfer() {
  local port=$1 direction=$2 n=$3 file=$4 mib=$5 client=$6 server=$7
  local proxyopt=() t0 t1 c0 c1 s0 s1
  [ "$port" != 0 ] && proxyopt=(--socks5-hostname "127.0.0.1:$port")
  c0=$(ticks "$client"); s0=$(ticks "$server"); t0=$(now_ns)
  curl_streams "a transfer through port $port failed" "$direction" "$n" "$file" "${proxyopt[@]}"
  t1=$(now_ns); c1=$(ticks "$client"); s1=$(ticks "$server")
  awk -v mib="$mib" -v n="$n" -v ns=$((t1 - t0)) -v ct=$((c1 - c0)) -v st=$((s1 - s0)) -v hz="$hz" \
    'BEGIN { bytes = mib * n * 1048576; gib = bytes / 1073741824;
             printf "%.1f %.2f %.2f\n", bytes / (ns / 1e9) / 1e6, ct / hz / gib, st / hz / gib }'
}

echo "## Throughput through ss-server (medians of $rounds runs, the three ways taking turns)"
echo
printf '| method | transfer | streams | direct MB/s | ss-local MB/s | base MB/s | ours MB/s | ours / ss-local | ss-local CPU s/GiB | base CPU s/GiB | ours CPU s/GiB | ss-server CPU s/GiB (behind ss-local / ours) |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|\n'
port=8388
for method in aes-256-gcm chacha20-ietf-poly1305 aes-256-cfb; do
  port=$((port + 1))
  # Started by ip netns exec itself (no subshell), so $! is the server's own pid.
  ip netns exec "$ns" ss-server -s 127.0.0.1 -p "$port" -k "$password" -m "$method" -t 60 > "$dir/ss-server-$method.log" 2>&1 &
  server=$!
  ip netns exec "$ns" ss-local -s 127.0.0.1 -p "$port" -b 127.0.0.1 -l 1081 -k "$password" -m "$method" -t 60 > "$dir/ss-local-$method.log" 2>&1 &
  sslocal=$!
  ip netns exec "$ns" "$runner" 16666 ss 127.0.0.1 "$port" "$method" "$password" > "$dir/runner-$method.log" 2>&1 &
  ours=$!
  base=
  if [ -n "$base_runner" ]; then
    ip netns exec "$ns" "$base_runner" 16667 ss 127.0.0.1 "$port" "$method" "$password" > "$dir/base-$method.log" 2>&1 &
    base=$!
    wait_running "$dir/base-$method.log" || { cat "$dir/base-$method.log" >&2; exit 1; }
  fi
  wait_listening "$ns" "$port"
  wait_listening "$ns" 1081
  wait_running "$dir/runner-$method.log" || { cat "$dir/runner-$method.log" >&2; exit 1; }

  row() {
    local direction=$1 n=$2 file=$3 mib=$4
    local r a b c d x y v z w direct=() local_=() ours_=() base_=() lcpu=() ocpu=() bcpu=() scpu1=() scpu2=()
    for r in $(seq "$rounds"); do
      read -r a _ _ < <(transfer 0 "$direction" "$n" "$file" "$mib" "$sslocal" "$server")
      read -r b x z < <(transfer 1081 "$direction" "$n" "$file" "$mib" "$sslocal" "$server")
      d=-; v=-
      [ -n "$base" ] && read -r d v _ < <(transfer 16667 "$direction" "$n" "$file" "$mib" "$base" "$server")
      read -r c y w < <(transfer 16666 "$direction" "$n" "$file" "$mib" "$ours" "$server")
      direct+=("$a"); local_+=("$b"); ours_+=("$c"); lcpu+=("$x"); ocpu+=("$y"); scpu1+=("$z"); scpu2+=("$w")
      base_+=("$d"); bcpu+=("$v")
    done
    a=$(echo "${direct[*]}" | median); b=$(echo "${local_[*]}" | median); c=$(echo "${ours_[*]}" | median)
    x=$(echo "${lcpu[*]}" | median); y=$(echo "${ocpu[*]}" | median)
    z=$(echo "${scpu1[*]}" | median); w=$(echo "${scpu2[*]}" | median)
    d=$(echo "${base_[*]}" | median); v=$(echo "${bcpu[*]}" | median)
    printf '| %s | %s %s MiB | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s / %s |\n' "$method" "$direction" "$mib" "$n" \
      "$a" "$b" "$d" "$c" "$(awk -v c="$c" -v b="$b" 'BEGIN { printf "%.0f%%", 100 * c / b }')" "$x" "$v" "$y" "$z" "$w"
  }
  row down 1 down "$down_mib"
  row down "$streams" each "$each_mib"
  row up 1 up "$up_mib"
  row up "$streams" each "$each_mib"

  kill -TERM "$ours" "$sslocal" "$server" $base 2>/dev/null || true
  wait "$ours" "$sslocal" "$server" $base 2>/dev/null || true
done
echo
echo "Machine: $(nproc) cores, shared with other work while this ran."
