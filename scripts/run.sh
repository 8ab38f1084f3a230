#!/usr/bin/env bash
# Sets up the machine, builds the optimised program and starts it from its
# program folder, with its windows when a display is there. Arguments are
# passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCENDROW_TESTS=OFF -DCENDROW_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target cendrow
# The windows open on the desktop session's display (Xwayland on a Wayland
# desktop). sudo keeps DISPLAY only when told to; the user's X authority
# comes along when it is not given.
if [ -n "${DISPLAY:-}" ] && [ -z "${XAUTHORITY:-}" ] && [ -n "${SUDO_USER:-}" ]; then
  user_home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
  if [ -f "$user_home/.Xauthority" ]; then export XAUTHORITY="$user_home/.Xauthority"; fi
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "run: DISPLAY is not set: the program runs without windows (sudo: use sudo -E or sudo env DISPLAY=...)" >&2
fi
exec build/release/program/cendrow "$@"
