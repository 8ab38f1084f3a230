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
# per stream of the 8-stream rows), ROUNDS (3, medians shown).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runner=$build/bench/local_proxy_runner
down_mib=${DOWN_MIB:-512}
up_mib=${UP_MIB:-256}
each_mib=${EACH_MIB:-128}
rounds=${ROUNDS:-3}
streams=8
password="bench p4ssw0rd"

[ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace)" >&2; exit 1; }
[ -x "$runner" ] || { echo "build local_proxy_runner in $build first" >&2; exit 1; }

ns=cdr-ssbench-$$
dir=$(mktemp -d /tmp/cdr-ssbench.XXXXXX)
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
mkdir -p "$dir/www" "$dir/tmp"
head -c "${down_mib}M" /dev/urandom > "$dir/www/down"
head -c "${up_mib}M" /dev/urandom > "$dir/www/up"
head -c "${each_mib}M" /dev/urandom > "$dir/www/each"

cat > "$dir/nginx.conf" <<END
user root;
worker_processes 4;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server {
    listen 127.0.0.1:8080 backlog=4096;
    root $dir/www;
  }
}
END
in_ns nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log"
in_ns python3 "$root/tests/support/server_peers.py" http 127.0.0.1 8081 "$dir/www" > "$dir/http.log" 2>&1 < /dev/null &
disown $!

wait_port() {
  local i
  for i in $(seq 200); do
    in_ns ss -Htln "sport = :$1" | grep -q . && return 0
    sleep 0.05
  done
  echo "nothing listens on port $1" >&2
  exit 1
}
wait_port 8080
wait_port 8081

hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
now_ns() { date +%s%N; }
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# transfer PORT DIRECTION STREAMS FILE MIB CLIENT_PID SERVER_PID -> "<MB/s> <client CPU s/GiB> <server CPU s/GiB>"
transfer() {
  local port=$1 direction=$2 n=$3 file=$4 mib=$5 client=$6 server=$7
  local proxyopt=() pids=() i t0 t1 c0 c1 s0 s1
  [ "$port" != 0 ] && proxyopt=(--socks5-hostname "127.0.0.1:$port")
  c0=$(ticks "$client"); s0=$(ticks "$server"); t0=$(now_ns)
  for i in $(seq "$n"); do
    if [ "$direction" = down ]; then
      in_ns curl -sS "${proxyopt[@]}" -o /dev/null "http://127.0.0.1:8080/$file" &
    else
      in_ns curl -sS "${proxyopt[@]}" -H 'Expect:' -o /dev/null -T "$dir/www/$file" "http://127.0.0.1:8081/up" &
    fi
    pids+=($!)
  done
  for i in "${pids[@]}"; do wait "$i" || { echo "a transfer through port $port failed" >&2; exit 1; }; done
  t1=$(now_ns); c1=$(ticks "$client"); s1=$(ticks "$server")
  awk -v mib="$mib" -v n="$n" -v ns=$((t1 - t0)) -v ct=$((c1 - c0)) -v st=$((s1 - s0)) -v hz="$hz" \
    'BEGIN { bytes = mib * n * 1048576; gib = bytes / 1073741824;
             printf "%.1f %.2f %.2f\n", bytes / (ns / 1e9) / 1e6, ct / hz / gib, st / hz / gib }'
}

echo "## Throughput through ss-server (medians of $rounds runs, the three ways taking turns)"
echo
printf '| method | transfer | streams | direct MB/s | ss-local MB/s | ours MB/s | ours / ss-local | ss-local CPU s/GiB | ours CPU s/GiB | ss-server CPU s/GiB (behind ss-local / ours) |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
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
  wait_port "$port"
  wait_port 1081
  for _ in $(seq 100); do grep -q running "$dir/runner-$method.log" && break; sleep 0.05; done
  grep -q running "$dir/runner-$method.log" || { cat "$dir/runner-$method.log" >&2; exit 1; }

  row() {
    local direction=$1 n=$2 file=$3 mib=$4
    local r a b c x y z w direct=() local_=() ours_=() lcpu=() ocpu=() scpu1=() scpu2=()
    for r in $(seq "$rounds"); do
      read -r a _ _ < <(transfer 0 "$direction" "$n" "$file" "$mib" "$sslocal" "$server")
      read -r b x z < <(transfer 1081 "$direction" "$n" "$file" "$mib" "$sslocal" "$server")
      read -r c y w < <(transfer 16666 "$direction" "$n" "$file" "$mib" "$ours" "$server")
      direct+=("$a"); local_+=("$b"); ours_+=("$c"); lcpu+=("$x"); ocpu+=("$y"); scpu1+=("$z"); scpu2+=("$w")
    done
    a=$(echo "${direct[*]}" | median); b=$(echo "${local_[*]}" | median); c=$(echo "${ours_[*]}" | median)
    x=$(echo "${lcpu[*]}" | median); y=$(echo "${ocpu[*]}" | median)
    z=$(echo "${scpu1[*]}" | median); w=$(echo "${scpu2[*]}" | median)
    printf '| %s | %s %s MiB | %s | %s | %s | %s | %s | %s | %s | %s / %s |\n' "$method" "$direction" "$mib" "$n" \
      "$a" "$b" "$c" "$(awk -v c="$c" -v b="$b" 'BEGIN { printf "%.0f%%", 100 * c / b }')" "$x" "$y" "$z" "$w"
  }
  row down 1 down "$down_mib"
  row down "$streams" each "$each_mib"
  row up 1 up "$up_mib"
  row up "$streams" each "$each_mib"

  kill -TERM "$ours" "$sslocal" "$server" 2>/dev/null || true
  wait "$ours" "$sslocal" "$server" 2>/dev/null || true
done
echo
echo "Machine: $(nproc) cores, shared with other work while this ran."
