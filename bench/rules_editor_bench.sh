#!/usr/bin/env bash
# The mode editor with 10,000 rule lines beside a bare multi-line text
# control given the same text (the ceiling): opening a mode, 200 typed
# characters with the line counter, and Save against parsing and saving the
# rules directly, on a virtual display of its own.
#
#   bench/rules_editor_bench.sh [BUILD_DIR]
# BUILD_DIR defaults to build/release (cmake -S . -B build/release
# -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target rules_editor_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
bench=$build/bench/rules_editor_bench
[ -x "$bench" ] || { echo "no $bench: build the rules_editor_bench target first" >&2; exit 1; }

# shellcheck source=lib/virtual_display.sh
. bench/lib/virtual_display.sh
bench_virtual_display "$build"
on_display "$bench" "$work/program"
echo "Goals: open within 1.5x, typing within 1.2x, Save within 1.5x of the ceilings."
