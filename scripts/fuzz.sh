#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan) and runs
# each for the given number of seconds (default 60) from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

shopt -s nullglob
targets=(tests/fuzz/*.cpp)
[ ${#targets[@]} -eq 0 ] && exit 0

cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCENDROW_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j"$(nproc)"

status=0
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/corpus/$name
  dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  echo "fuzz: $name for ${seconds}s"
  if ! build/fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -print_final_stats=0 \
       -artifact_prefix=build/fuzz/"$name"- "${dirs[@]}" >build/fuzz/"$name".log 2>&1; then
    echo "fuzz: $name FAILED; see build/fuzz/$name.log" >&2
    tail -40 build/fuzz/"$name".log >&2
    status=1
  fi
done
exit "$status"
