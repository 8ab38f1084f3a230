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
# shellcheck source=lib/private_display.sh
. bench/lib/private_display.sh
bench_window_setup "$build" chooser_bench
DISPLAY=:$display GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 "$bench" "$work/program" "$@"
echo "Goals: fill and paging within 2x the bare combo; from 2,000 to 20,000 nodes the chooser's fill grows no faster than the bare combo's."
