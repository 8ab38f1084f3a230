#!/usr/bin/env bash
# The whole program's test topology: three network namespaces joined by veth
# pairs, none of them linked to the machine's own namespace.
#
#   app    cda-app-TAG     to-proxy 10.198.76.1/24, default route via
#                          10.198.76.2; no TUN device (the program makes its
#                          own); /etc/netns/cda-app-TAG/resolv.conf exists, so
#                          `ip netns exec` binds it over /etc/resolv.conf
#   proxy  cda-proxy-TAG   the app's gateway (forwards): to-app 10.198.76.2/24,
#                          to-server 10.198.77.1/24; the proxy nodes listen
#                          on 10.198.78.2, a link of its own outside the app's
#                          networks, so connect needs its host route:
#                            danted     :1080 SOCKS 5 and 4, no authentication
#                            danted     :1082 SOCKS 5 with user "cdw", password "cdw-pass"
#                            microsocks :1081 SOCKS 5
#                            tinyproxy  :8888 HTTP CONNECT
#                            ss-server  :8388 aes-256-gcm, :8389 aes-256-cfb,
#                                       password "cda ss pass", UDP too
#                          and one on the veth's own network, which needs no
#                          host route: microsocks 10.198.76.2:1083. A DNS
#                          server (unbound) answers www.cendrow.example with the
#                          server's address on the tests' own servers
#                          10.198.79.1 and .2 and on the smart-DNS presets'
#                          addresses (8.8.8.8, 8.8.4.4, 119.29.29.29,
#                          119.28.28.28), reached direct or through a node; on
#                          the node test's UDP servers (8.8.8.8, 114.114.114.114,
#                          208.67.222.222, 223.5.5.5) it answers that test's
#                          names too. The four
#                          node-test sites' names lead to the server in the
#                          hosts files of the proxy and the app namespace.
#   server cda-server-TAG  to-proxy 10.198.77.2/24 and connected routes only:
#                          it answers only the proxy namespace, so traffic
#                          that bypasses the node fails. nginx serves DIR/www
#                          on 10.198.77.2:80, and at /ip/ the caller's
#                          address.
#
# usage: app-topology.sh create TAG DIR | delete TAG
set -euo pipefail

cmd=${1:-}
tag=${2:?a tag}
app=cda-app-$tag
proxy=cda-proxy-$tag
server=cda-server-$tag

# shellcheck source=topology-lib.sh
source "$(dirname "$0")/topology-lib.sh"

delete() {
  delete_namespaces "$app" "$proxy" "$server"
  rm -rf "/etc/netns/$app" "/etc/netns/$proxy"
}

create() {
  local dir=${1:?create needs a folder}
  delete
  mkdir -p "/etc/netns/$app" "/etc/netns/$proxy" "$dir/www" "$dir/tmp"
  printf 'nameserver 10.198.77.2\noptions timeout:1 attempts:1\n' > "/etc/netns/$app/resolv.conf"
  local site hosts='127.0.0.1 localhost\n'
  for site in www.google.com www.bing.com www.wikipedia.org www.baidu.com; do
    hosts+="10.198.77.2 $site\n"
  done
  printf "$hosts" > "/etc/netns/$app/hosts"
  printf "$hosts" > "/etc/netns/$proxy/hosts"
  # The node user exists only for what runs in the proxy namespace.
  printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\ncdw:x:64998:65534::/nonexistent:/usr/sbin/nologin\n' \
    > "/etc/netns/$proxy/passwd"
  local hash
  hash=$(openssl passwd -6 cdw-pass)
  printf 'root:*:19000:0:99999:7:::\nnobody:*:19000:0:99999:7:::\ncdw:%s:19000:0:99999:7:::\n' "$hash" \
    > "/etc/netns/$proxy/shadow"
  chmod 640 "/etc/netns/$proxy/shadow"
  local ns
  for ns in "$app" "$proxy" "$server"; do
    ip netns add "$ns"
    in_ns "$ns" ip link set lo up
  done
  in_ns "$app" ip link add to-proxy type veth peer name to-app netns "$proxy"
  in_ns "$app" ip addr add 10.198.76.1/24 dev to-proxy
  in_ns "$app" ip link set to-proxy up
  in_ns "$app" ip route add default via 10.198.76.2
  in_ns "$proxy" ip addr add 10.198.76.2/24 dev to-app
  in_ns "$proxy" ip link set to-app up
  in_ns "$proxy" ip link add to-server type veth peer name to-proxy netns "$server"
  in_ns "$proxy" ip addr add 10.198.77.1/24 dev to-server
  in_ns "$proxy" ip link set to-server up
  in_ns "$proxy" sysctl -qw net.ipv4.ip_forward=1
  in_ns "$proxy" ip link add nodes type dummy 2>/dev/null || in_ns "$proxy" ip link add nodes type ifb
  in_ns "$proxy" ip addr add 10.198.78.2/32 dev nodes
  in_ns "$proxy" ip link set nodes up
  local a dns_addresses="10.198.79.1 10.198.79.2 8.8.8.8 8.8.4.4 119.29.29.29 119.28.28.28
    114.114.114.114 208.67.222.222 223.5.5.5"
  for a in $dns_addresses; do in_ns "$proxy" ip addr add "$a/32" dev lo; done
  in_ns "$server" ip addr add 10.198.77.2/24 dev to-proxy
  in_ns "$server" ip link set to-proxy up

  write_danted_conf "$dir/danted.conf" "$dir/danted.log" 10.198.78.2 1080 none "external: to-server"
  in_ns "$proxy" danted -D -f "$dir/danted.conf" -p "$dir/danted.pid"
  write_danted_conf "$dir/danted-auth.conf" "$dir/danted-auth.log" 10.198.78.2 1082 username \
    "external: to-server"
  in_ns "$proxy" danted -D -f "$dir/danted-auth.conf" -p "$dir/danted-auth.pid"
  in_ns "$proxy" microsocks -i 10.198.78.2 -p 1081 > "$dir/microsocks.log" 2>&1 < /dev/null &
  in_ns "$proxy" microsocks -i 10.198.76.2 -p 1083 > "$dir/microsocks-local.log" 2>&1 < /dev/null &
  in_ns "$proxy" ss-server -s 10.198.78.2 -p 8388 -k "cda ss pass" -m aes-256-gcm -u -t 30 \
    -f "$dir/ss-gcm.pid" > "$dir/ss-gcm.log" 2>&1
  in_ns "$proxy" ss-server -s 10.198.78.2 -p 8389 -k "cda ss pass" -m aes-256-cfb -u -t 30 \
    -f "$dir/ss-cfb.pid" > "$dir/ss-cfb.log" 2>&1
  cat > "$dir/tinyproxy.conf" <<END
Port 8888
Listen 10.198.78.2
Timeout 60
LogFile "$dir/tinyproxy.log"
PidFile "$dir/tinyproxy.pid"
MaxClients 50
Allow 10.198.76.0/24
ConnectPort 80
END
  in_ns "$proxy" tinyproxy -c "$dir/tinyproxy.conf"

  {
    printf 'server:\n  directory: "%s"\n  username: ""\n  chroot: ""\n  pidfile: ""\n' "$dir"
    printf '  do-daemonize: no\n  use-syslog: no\n  logfile: "%s/dns.log"\n  do-ip6: no\n' "$dir"
    printf '  so-reuseport: no\n  module-config: "iterator"\n  access-control: 0.0.0.0/0 allow\n  port: 53\n'
    for a in $dns_addresses; do printf '  interface: %s\n' "$a"; done
    printf '  local-zone: "cendrow.example." static\n  local-data: "www.cendrow.example. A 10.198.77.2"\n'
    for a in www.baidu.com www.google.com www.wikipedia.org www.qq.com; do
      printf '  local-data: "%s. A 10.198.77.53"\n' "$a"
    done
  } > "$dir/dns.conf"
  in_ns "$proxy" unbound -c "$dir/dns.conf" > "$dir/dns.out" 2>&1 < /dev/null &
  write_nginx_conf "$dir" 10.198.77.2:80 1 \
    'location /ip/ { default_type text/plain; return 200 "$remote_addr"; }'
  in_ns "$server" nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log"
  wait_listening "$proxy" 1080
  wait_listening "$proxy" 1081
  wait_listening "$proxy" 1082
  wait_listening "$proxy" 8888
  wait_listening "$proxy" 1083
  wait_listening "$proxy" 8388
  wait_listening "$proxy" 8389
  wait_listening "$server" 80
  wait_listening "$proxy" 53
}

case "$cmd" in
  create) create "${3:-}" ;;
  delete) delete ;;
  *)
    echo "usage: $0 create TAG DIR | delete TAG" >&2
    exit 2
    ;;
esac
