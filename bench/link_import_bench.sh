#!/usr/bin/env bash
# Batch add of 5,000 share links (one in ten malformed, about 1 MB) beside
# CNodeMgr::AddNodeFromLink looped on the same pieces, and the proxy chooser
# filled with those nodes beside a bare report-view wxListCtrl, on a virtual
# display of its own.
#
#   bench/link_import_bench.sh [BUILD_DIR]
# BUILD_DIR defaults to build/release (cmake -S . -B build/release
# -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target link_import_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
bench=$build/bench/link_import_bench
[ -x "$bench" ] || { echo "no $bench: build the link_import_bench target first" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display and writes its number to fd 3.
exec 3>"$work/display"
Xvfb -displayfd 3 -br -dpi 96 -nolisten tcp -screen 0 1280x1024x24 </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=$(head -n1 "$work/display")
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }

mkdir -p "$work/program"
cp -r "$build/program/skins" "$build/program/res" "$work/program/"
DISPLAY=:$display GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 "$bench" "$work/program"
