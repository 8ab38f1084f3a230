#!/usr/bin/env bash
# The action-log window opening on 10,000 lines beside a bare multi-line
# text control given the same text in one call, on a virtual display of its
# own. Goal: at most 1.3 times the bare control.
#
#   bench/action_log_bench.sh [BUILD_DIR] [LINES] [ROUNDS]
# BUILD_DIR defaults to build/release (cmake -S . -B build/release
# -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target action_log_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
# shellcheck source=lib/private_display.sh
. bench/lib/private_display.sh
bench_window_setup "$build" action_log_bench
DISPLAY=:$display GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 "$bench" "$work/program" "$@"
