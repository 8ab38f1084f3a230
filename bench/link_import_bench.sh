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

# shellcheck source=lib/virtual_display.sh
. bench/lib/virtual_display.sh
bench_virtual_display "$build"
on_display "$bench" "$work/program"
