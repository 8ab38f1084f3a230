#!/usr/bin/env bash
# The packet engine's test topology: three network namespaces joined by veth
# pairs, none of them linked to the machine's own namespace, so no packet of
# a test can leave the machine.
#
#   app    cdr-app-TAG     TUN device ctun0 10.198.75.60/24 (the engine's own
#                          address is 10.198.75.61); to-proxy 10.198.76.1/24
#   proxy  cdr-proxy-TAG   to-app 10.198.76.2/24, to-server 10.198.77.1/24
#   server cdr-server-TAG  to-proxy 10.198.77.2/24
#
# The app namespace reaches the proxy namespace over its connected route, so
# the engine's own SOCKS traffic never enters the TUN device; everything else
# goes through the engine once `routes` has pointed 0.0.0.0/1 and 128.0.0.0/1
# at 10.198.75.61 (after the engine has started on ctun0).
#
# usage: engine-topology.sh create|routes|delete|status [TAG]   (TAG defaults to "dev")
#        engine-topology.sh peers TAG DIR
#
# `peers` starts the servers, with their files in DIR (an absolute path):
#   proxy   danted, SOCKS 5 without authentication on 10.198.76.2:1080; it
#           passes half-closed connections on, which the engine relies on
#   server  nginx serving DIR/www on 10.198.77.2:80; on :8080 an HTTP/1.0
#           server that serves DIR/www too and answers uploads with
#           "<sha256> <bytes>", and goes on sending after the client's FIN
#           (nginx stops there); a UDP echo on :7; iperf3 -s on :5201
#
# By hand, for example (as root, from the source folder, after a build):
#   scripts/engine-topology.sh create
#   scripts/engine-topology.sh peers dev /tmp/cdr-peers
#   ip netns exec cdr-app-dev build/asan/bench/tun2socks_runner \
#       tap0901:ctun0:10.198.75.60:10.198.75.0:255.255.255.0 10.198.75.61 255.255.255.0 10.198.76.2:1080 &
#   scripts/engine-topology.sh routes
#   ip netns exec cdr-app-dev curl -O http://10.198.77.2/some-file-in-www
#   scripts/engine-topology.sh delete        # also ends whatever still runs inside
set -euo pipefail

cmd=${1:-}
tag=${2:-dev}
app=cdr-app-$tag
proxy=cdr-proxy-$tag
server=cdr-server-$tag

# shellcheck source=topology-lib.sh
source "$(dirname "$0")/topology-lib.sh"

delete() {
  delete_namespaces "$app" "$proxy" "$server"
}

create() {
  delete  # what a crashed run left behind
  local ns
  for ns in "$app" "$proxy" "$server"; do
    ip netns add "$ns"
    in_ns "$ns" ip link set lo up
  done

  in_ns "$app" ip tuntap add dev ctun0 mode tun
  in_ns "$app" ip addr add 10.198.75.60/24 dev ctun0
  in_ns "$app" ip link set ctun0 up

  # Each pair is made inside a namespace of ours and its peer moved straight
  # into the other one, so no end ever appears in the machine's namespace.
  in_ns "$app" ip link add to-proxy type veth peer name to-app netns "$proxy"
  in_ns "$app" ip addr add 10.198.76.1/24 dev to-proxy
  in_ns "$app" ip link set to-proxy up
  in_ns "$proxy" ip addr add 10.198.76.2/24 dev to-app
  in_ns "$proxy" ip link set to-app up

  in_ns "$proxy" ip link add to-server type veth peer name to-proxy netns "$server"
  in_ns "$proxy" ip addr add 10.198.77.1/24 dev to-server
  in_ns "$proxy" ip link set to-server up
  in_ns "$server" ip addr add 10.198.77.2/24 dev to-proxy
  in_ns "$server" ip link set to-proxy up
}

routes() {
  in_ns "$app" ip route replace 0.0.0.0/1 via 10.198.75.61 dev ctun0
  in_ns "$app" ip route replace 128.0.0.0/1 via 10.198.75.61 dev ctun0
}

peers() {
  local dir=${1:?peers needs a folder}
  local here
  here=$(cd "$(dirname "$0")/.." && pwd)
  mkdir -p "$dir/www" "$dir/tmp"

  write_danted_conf "$dir/danted.conf" "$dir/danted.log" 10.198.76.2 1080 none \
    "external: to-server" "external: lo" "external.rotation: route"
  in_ns "$proxy" danted -D -f "$dir/danted.conf"

  write_nginx_conf "$dir" 10.198.77.2:80 2
  in_ns "$server" nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log"
  in_ns "$server" python3 "$here/tests/support/server_peers.py" http 10.198.77.2 8080 "$dir/www" \
    > "$dir/http.log" 2>&1 < /dev/null &
  in_ns "$server" python3 "$here/tests/support/server_peers.py" udp-echo 10.198.77.2 7 \
    > "$dir/udp-echo.log" 2>&1 < /dev/null &
  in_ns "$server" iperf3 -s -D -B 10.198.77.2 -p 5201 --logfile "$dir/iperf3.log"

  wait_listening "$proxy" 1080
  wait_listening "$server" 80
  wait_listening "$server" 8080
  wait_listening "$server" 5201
}

status() {
  local ns
  for ns in "$app" "$proxy" "$server"; do
    echo "== $ns"
    in_ns "$ns" ip -brief addr
    in_ns "$ns" ip route
  done
}

case "$cmd" in
  create) create ;;
  routes) routes ;;
  peers) peers "${3:-}" ;;
  delete) delete ;;
  status) status ;;
  *)
    echo "usage: $0 create|routes|delete|status [TAG] | peers TAG DIR" >&2
    exit 2
    ;;
esac
