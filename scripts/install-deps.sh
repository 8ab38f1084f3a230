#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the program need.
# Does nothing (quickly) when they are all present. Services that a package
# would start on install are kept from starting.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # libraries the program links
  libcrypto++-dev libsodium-dev libcurl4-openssl-dev libssh2-1-dev
  libjsoncpp-dev libmnl-dev gettext ca-certificates
  # the tests' HTTPS server and gzip bodies
  libssl-dev zlib1g-dev
  # the user interface (wxWidgets on GTK 3), its fonts, and the link opener
  libwxgtk3.2-dev libwxgtk-webview3.2-dev xdg-utils fonts-wqy-microhei fonts-dejavu-core fonts-liberation2
  # the main loop on GLib, the display-loss handler (Xlib), suspend through the system bus (GIO)
  libglib2.0-dev libx11-dev
  # the program's run-time helpers
  iproute2 unbound
  # setcap and getcap for scripts/install-caps.sh
  libcap2-bin
  # real peers and tools used by the tests and benchmarks
  openssl gzip coreutils curl iputils-ping python3 procps
  shadowsocks-libev microsocks dante-server tinyproxy openssh-server
  nginx-light iperf3 nftables
  # windows drawn on a virtual display, driven and photographed by the tests
  xvfb xauth xdotool imagemagick trayer
  # a private system bus for the suspend test
  dbus-daemon
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

# policy-rc.d answering 101 keeps invoke-rc.d from starting packaged services.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' > "$policy"
  chmod 755 "$policy"
  made_policy=1
fi
cleanup() { if [ "$made_policy" = 1 ]; then rm -f "$policy"; fi; }
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

# Some packages start their service through systemd paths that ignore policy-rc.d
# when systemd is running; stop what we can find so tests own their ports.
for svc in shadowsocks-libev danted tinyproxy ssh nginx unbound iperf3 microsocks; do
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    systemctl stop "$svc" >/dev/null 2>&1 || true
    systemctl disable "$svc" >/dev/null 2>&1 || true
  fi
done
