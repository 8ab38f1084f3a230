#!/usr/bin/env bash
# The node chooser with 2,000 nodes in 40 groups and with 20,000, beside a
# bare owner-drawn combo box with the same texts and a plain text draw (the
# ceiling): fill time, the time to page through the open list, and the p99
# of a user-interface round trip posted from a thread meanwhile, on a
# virtual display of its own.
#
#   bench/chooser_bench.sh [BUILD_DIR] [N...]
# BUILD_DIR defaults to build/release (cmake -S . -B build/release
# -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target chooser_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
bench=$build/bench/chooser_bench
[ -x "$bench" ] || { echo "no $bench: build the chooser_bench target first" >&2; exit 1; }

. bench/lib/virtual_display.sh
start_virtual_display "$build"
DISPLAY=:$display GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 "$bench" "$program" "$@"
echo "Goals: fill and paging within 2x the bare combo; from 2,000 to 20,000 nodes the chooser's fill grows no faster than the bare combo's."
