#!/usr/bin/env bash
# Sets up the machine, builds the optimised program and starts it from its
# program folder. Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCENDROW_TESTS=OFF -DCENDROW_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target cendrow
exec build/release/program/cendrow "$@"
