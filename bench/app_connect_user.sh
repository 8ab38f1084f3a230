#!/usr/bin/env bash
# Connect and disconnect times of the whole program as root and as the
# desktop user (uid 65534 with the file capabilities of
# scripts/install-caps.sh, the DNS servers written by the resolv.conf
# helper), side by side in one run, in throwaway namespaces
# (scripts/app-topology.sh; nothing leaves them). Global mode through
# ss-server (aes-256-gcm) with the user's own DNS servers; each time from the
# command until the state says "connected", or until the program reports
# "Disconnected!" (the routes and DNS servers put back); the median of
# ROUNDS (5) per side.
#
# usage (as root): bench/app_connect_user.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release (cmake --build build/release --target cendrow).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
rounds=${ROUNDS:-5}
client=$root/bench/tools/channel_client.py

[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces, file capabilities)" >&2; exit 1; }
[ -x "$build/program/cendrow" ] || { echo "build cendrow in $build first" >&2; exit 1; }

# shellcheck source=lib/app_topology.sh
. "$root/bench/lib/app_topology.sh"
bench_app_topology benchu
# The user reaches its program folder through ours.
chmod 755 "$dir"

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# One side: "root" or "user". Sets res_c and res_d, the median connect and
# disconnect times.
measure() {
  local who=$1 side=$dir/$1 as=() wrap=()
  cp -r "$build/program" "$side"
  mkdir -m 700 -p "$dir/$who-run" "$dir/$who-data"
  if [ "$who" = user ]; then
    chown -R 65534:65534 "$side" "$dir/$who-run" "$dir/$who-data"
    SUDO_USER=65534 bash "$root/scripts/install-caps.sh" "$side" >/dev/null 2>&1
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    if [ "$(stat -c %a /dev/net/tun)" != 666 ]; then
      # A device node of our own over /dev/net/tun, in a mount namespace of
      # the program's alone.
      mkdir -p "$dir/tun-node"
      wrap=(unshare -m --propagation private sh -c 'set -e; mount -t tmpfs -o mode=755 cendrow-tun "$0";
        mknod -m 666 "$0/tun" c 10 200; mount --bind "$0/tun" /dev/net/tun; exec "$@"' "$dir/tun-node")
    fi
  fi
  local run=$dir/$who-run/cendrow
  "${wrap[@]}" ip netns exec "$app" env -u CENDROW_HOST_GUARD XDG_RUNTIME_DIR="$dir/$who-run" \
    XDG_DATA_HOME="$dir/$who-data" "${as[@]}" "$side/cendrow" > "$dir/$who.log" 2>&1 &
  pid=$!
  ask() { "${as[@]}" "$bench_python" "$client" "$run" "$@"; }
  state_is() { [ "$(ask 11)" = "$1" ]; }
  for _ in $(seq 300); do ask 13 >/dev/null 2>&1 && break; sleep 0.1; done
  for _ in $(seq 300); do ip netns exec "$app" ip link show cendrow >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 1
  local id c=() d=() t0 i n
  id=$(ask 10 10.198.78.2 8388 "" "cda ss pass" 6 aes-256-gcm "" "" "" "")
  ask 2 "$id" >/dev/null
  ask 4 0 >/dev/null
  ask 20 1 10.198.79.1/10.198.79.2 >/dev/null
  for i in $(seq "$rounds"); do
    t0=$(now)
    until state_is connecting || state_is connected; do ask 5 >/dev/null; sleep 0.02; done
    until state_is connected; do sleep 0.02; done
    c+=("$(echo "$(now) - $t0" | bc -l)")
    grep -q "nameserver 10.198.79.1" "/etc/netns/$app/resolv.conf" || { echo "$who: DNS servers not set" >&2; exit 1; }
    n=$(bench_status_count "$dir/$who.log" "Disconnected!")
    t0=$(now)
    ask 6 >/dev/null
    until [ "$(bench_status_count "$dir/$who.log" "Disconnected!")" -gt "$n" ]; do sleep 0.02; done
    d+=("$(echo "$(now) - $t0" | bc -l)")
    state_is disconnected || { echo "$who: not disconnected after its status line" >&2; exit 1; }
    sleep 1
  done
  ask 1 >/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
  res_c=$(printf '%s\n' "${c[@]}" | median)
  res_d=$(printf '%s\n' "${d[@]}" | median)
}

measure root
root_c=$res_c root_d=$res_d
measure user
user_c=$res_c user_d=$res_d
printf '%-36s %10s %10s\n' "seconds (median of $rounds)" connect disconnect
printf '%-36s %10.3f %10.3f\n' "root" "$root_c" "$root_d"
printf '%-36s %10.3f %10.3f\n' "uid 65534 with capabilities" "$user_c" "$user_d"
printf '%-36s %9.2fx %9.2fx\n' "user / root" "$(echo "$user_c / $root_c" | bc -l)" "$(echo "$user_d / $root_d" | bc -l)"
