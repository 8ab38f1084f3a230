#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan) and runs
# each for the given number of seconds (default 60) from its seed corpus,
# several targets at a time (FUZZ_JOBS, default half the cores).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

shopt -s nullglob
targets=(tests/fuzz/*.cpp)
[ ${#targets[@]} -eq 0 ] && exit 0

# Line tables are all a crash report needs; full debug information doubles
# the link time of every target.
cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCENDROW_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" >/dev/null
# Only the fuzz targets and the libraries they link, not the program.
build_targets=()
for src in "${targets[@]}"; do build_targets+=(--target "fuzz_$(basename "$src" .cpp)"); done
cmake --build build/fuzz -j"$(nproc)" "${build_targets[@]}"

jobs=${FUZZ_JOBS:-$(( $(nproc) / 2 ))}
[ "$jobs" -ge 1 ] || jobs=1

# One target; its whole output goes to its log, its verdict to a file.
run_target() {
  local name=$1 corpus=build/fuzz/corpus/$1 seeds=tests/fuzz/corpus/$1
  mkdir -p "$corpus"
  local dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  if build/fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -print_final_stats=0 \
       -artifact_prefix=build/fuzz/"$name"- "${dirs[@]}" >build/fuzz/"$name".log 2>&1; then
    echo passed >build/fuzz/"$name".verdict
  else
    echo failed >build/fuzz/"$name".verdict
  fi
}

names=()
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  names+=("$name")
  rm -f build/fuzz/"$name".verdict
  # Keep at most $jobs targets running.
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$name" &
done
wait

status=0
for name in "${names[@]}"; do
  if [ "$(cat build/fuzz/"$name".verdict 2>/dev/null)" = passed ]; then
    echo "fuzz: $name passed (${seconds}s)"
  else
    echo "fuzz: $name FAILED; see build/fuzz/$name.log" >&2
    tail -40 build/fuzz/"$name".log >&2 || true
    status=1
  fi
done
exit "$status"
