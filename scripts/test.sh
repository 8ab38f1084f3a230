#!/usr/bin/env bash
# Sets up the machine, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# in its own build folder, and runs every test: unit suites in parallel, then
# the end-to-end suites (servers, namespaces; root) several at a time (each
# test builds namespaces named after its own process and, for windows, a
# virtual display of its own; tests that share something carry a
# RESOURCE_LOCK), then the fuzz targets, several at a time, for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
# One line per phase with its time, so that a slow run shows where it went.
phase() { echo "test.sh: $1 done after $(( SECONDS - started )) s"; }

bash scripts/install-deps.sh
jobs=$(nproc)
echo "test.sh: $jobs cores"
phase "set-up"

# Line tables (-g1) give sanitizer reports their files and lines at a
# fraction of the compile and link time of full debug information.
cmake -S . -B build/asan -DCENDROW_SANITIZE=ON -DCENDROW_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build build/asan -j"$jobs"
phase "build"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
(cd build/asan && ctest -L unit -j"$jobs" --output-on-failure) || status=1
phase "unit tests"
# Each end-to-end test names its namespaces and servers after its own pid.
e2e_jobs=$(( jobs / 2 ))
[ "$e2e_jobs" -ge 1 ] || e2e_jobs=1
(cd build/asan && ctest -L e2e -j"$e2e_jobs" --output-on-failure) || status=1
phase "end-to-end tests"
# Nothing else runs now: a fuzz target on every core.
FUZZ_JOBS=${FUZZ_JOBS:-$jobs} bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}" || status=1
phase "fuzzing"

if [ "$status" -ne 0 ]; then
  echo "test.sh: FAILED" >&2
else
  echo "test.sh: all tests passed"
fi
exit "$status"
