#!/usr/bin/env bash
# Formats the C++ sources with the tree's .clang-format.
#   scripts/format.sh          rewrite every tracked source in place
#   scripts/format.sh --check  list the files that differ, exit 1 if any
# Not part of the test command: layout never fails a build.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format.sh: clang-format is not installed" >&2; exit 2; }

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format "$f" | cmp -s - "$f"; then
      echo "$f"
      bad=1
    fi
  done
  exit "$bad"
fi
clang-format -i "${files[@]}"
