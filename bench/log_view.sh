#!/usr/bin/env bash
# A log view under a flood: 10,000 coloured lines through
# CTestingLogRichedit::AddLog from a worker beside the same lines appended to
# a bare text control on the window's thread (the ceiling), with the round
# trip of calls posted to the window's thread meanwhile. Runs on a virtual
# display (Xvfb :87).
#
#   bench/log_view.sh [BUILD_DIR] [LINES]
# BUILD_DIR defaults to build/release (cmake -S . -B build/release
# -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target log_view_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
lines=${2:-10000}
bench=$build/bench/log_view_bench
[ -x "$bench" ] || { echo "no $bench: build the log_view_bench target first" >&2; exit 1; }

work=$(mktemp -d)
pidfile=$work/xvfb.pid
cleanup() {
  bash tests/e2e/gallery/xvfb.sh stop "$pidfile" || true
  rm -rf "$work"
}
trap cleanup EXIT
bash tests/e2e/gallery/xvfb.sh start "$pidfile"
DISPLAY=:87 GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 "$bench" "$lines"
