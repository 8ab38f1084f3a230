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
bench=$build/bench/action_log_bench
[ -x "$bench" ] || { echo "no $bench: build the action_log_bench target first" >&2; exit 1; }

# shellcheck source=lib/virtual_display.sh
. bench/lib/virtual_display.sh
bench_virtual_display "$build"
on_display "$bench" "$work/program" "$@"
