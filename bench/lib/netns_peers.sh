# Set-up shared by the network benchmark scripts: one throwaway network
# namespace with its own loopback, a scratch folder, the peers the local proxy
# is measured against (danted, nginx with a small upload server), and the
# helpers that time and count. Sourced, with $root set to the source tree, by a
# script running with `set -euo pipefail`; nothing here leaves the namespace.

# shellcheck source=../../scripts/topology-lib.sh
. "$root/scripts/topology-lib.sh"

bench_need_root() {
  [ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace)" >&2; exit 1; }
}

# bench_netns TAG: makes the namespace cdr-TAG-<pid> ($ns) and the folder $dir,
# both removed on exit with everything that runs inside the namespace.
bench_netns() {
  ns=cdr-$1-$$
  dir=$(mktemp -d "/tmp/cdr-$1.XXXXXX")
  trap bench_cleanup EXIT
  ip netns add "$ns"
  in_ns "$ns" ip link set lo up
}

bench_cleanup() {
  delete_namespaces "$ns"
  rm -rf "$dir"
}

# danted on 127.0.0.1:1080, no authentication, relaying over loopback.
start_danted() {
  write_danted_conf "$dir/danted.conf" "$dir/danted.log" 127.0.0.1 1080 none "external: lo"
  in_ns "$ns" danted -D -f "$dir/danted.conf"
}

# start_web_servers [NGINX_DIRECTIVE...]: nginx serves $dir/www on
# 127.0.0.1:8080 (downloads) and the Python peer takes uploads on 8081.
start_web_servers() {
  mkdir -p "$dir/www" "$dir/tmp"
  write_nginx_conf "$dir" "127.0.0.1:8080 backlog=4096" 4 "" 4096 "$@"
  in_ns "$ns" nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log"
  in_ns "$ns" python3 "$root/tests/support/server_peers.py" http 127.0.0.1 8081 "$dir/www" > "$dir/http.log" 2>&1 < /dev/null &
  disown $!
}

# wait_running LOG: whether the runner writing LOG says it runs within 5 s.
wait_running() {
  for _ in $(seq 100); do grep -q running "$1" && return 0; sleep 0.05; done
  return 1
}

# curl_streams FAILURE DIRECTION STREAMS FILE [CURL_OPTION...]: STREAMS curls
# at once, each fetching FILE from nginx (down) or sending $dir/www/FILE to
# the upload server (up); says FAILURE and exits when any of them fails.
curl_streams() {
  local failure=$1 direction=$2 n=$3 file=$4 pids=() i
  shift 4
  for i in $(seq "$n"); do
    if [ "$direction" = down ]; then
      in_ns "$ns" curl -sS "$@" -o /dev/null "http://127.0.0.1:8080/$file" &
    else
      in_ns "$ns" curl -sS "$@" -H 'Expect:' -o /dev/null -T "$dir/www/$file" "http://127.0.0.1:8081/up" &
    fi
    pids+=($!)
  done
  for i in "${pids[@]}"; do wait "$i" || { echo "$failure" >&2; exit 1; }; done
}

hz=$(getconf CLK_TCK)
# CPU ticks (user + system) a process has used so far; 0 once it is gone.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
now_ns() { date +%s%N; }
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
