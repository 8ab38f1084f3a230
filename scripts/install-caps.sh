#!/usr/bin/env bash
# Lets the desktop user run the program without root: run once as root
# (sudo) after every build, with the program folder.
#
#   sudo scripts/install-caps.sh build/release/program
#
# The executable gets cap_net_admin (TUN device, routes, addresses),
# cap_net_raw (ping) and cap_net_bind_service (its resolver on port 53);
# the resolv.conf helper beside it gets cap_dac_override. Capabilities go to
# whoever may execute a file, so both become root:<the user's group>, mode
# 0750. The folder itself stays the user's: the program writes config, log,
# temp and update there. A rebuild replaces the files without capabilities;
# the program then says to run this again.
set -euo pipefail

folder=${1:?usage: install-caps.sh PROGRAM_FOLDER}
program=$folder/cendrow
helper=$folder/cendrow-resolv

if [[ $(id -u) -ne 0 ]]; then
  echo "install-caps: run as root, e.g. sudo $0 $folder" >&2
  exit 1
fi
for f in "$program" "$helper"; do
  if [[ ! -f $f || -L $f ]]; then
    echo "install-caps: $f is missing (build the program first)" >&2
    exit 1
  fi
done
if ! command -v setcap >/dev/null; then
  echo "install-caps: setcap is missing: apt-get install libcap2-bin" >&2
  exit 1
fi

# The user who asked through sudo; root itself when run directly.
user=${SUDO_USER:-root}
group=$(id -gn "$user")

chown "root:$group" "$program" "$helper"
chmod 0750 "$program" "$helper"
setcap cap_net_admin,cap_net_raw,cap_net_bind_service+ep "$program"
setcap cap_dac_override+ep "$helper"
getcap "$program" "$helper"

if [[ -c /dev/net/tun && $(stat -c %a /dev/net/tun) != 666 ]]; then
  echo "install-caps: note: /dev/net/tun is mode $(stat -c %a /dev/net/tun); the program needs to open it" \
    "(Debian's default is 0666)" >&2
fi
