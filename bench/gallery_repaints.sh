#!/usr/bin/env bash
# What an animation repaints: runs the control gallery's skinned dialog on a
# virtual display (Xvfb :87) for a few seconds while its two GIF pictures
# play, and prints how often each window was painted during that time. The
# pictures should be the only windows painted.
#
#   bench/gallery_repaints.sh [BUILD_DIR] [SECONDS]
# BUILD_DIR defaults to build/release (cmake -S . -B build/release
# -DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target ui_gallery).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-5}
gallery=$build/tests/e2e/gallery/ui_gallery
[ -x "$gallery" ] || { echo "no $gallery: build the ui_gallery target first" >&2; exit 1; }

work=$(mktemp -d)
pidfile=$work/xvfb.pid
cleanup() {
  bash tests/e2e/gallery/xvfb.sh stop "$pidfile" || true
  rm -rf "$work"
}
trap cleanup EXIT
bash tests/e2e/gallery/xvfb.sh start "$pidfile"
mkdir -p "$work/program"
cp -r "$build/program/skins" "$build/program/res" "$work/program/"

export DISPLAY=:87 GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1
{
  sleep 2
  echo paints
  sleep "$seconds"
  echo paints
  echo quit
} | "$gallery" --program "$work/program" --scene skinned >"$work/out"

awk -v s="$seconds" '
  /^READY/ { ready = 1 }
  /^PAINTS/ && ready { if (!($2 in first)) { first[$2] = $3; order[n++] = $2 } else { last[$2] = $3 } }
  END {
    printf "%-18s %8s %10s\n", "window", "paints", "per second"
    for (i = 0; i < n; i++) { k = order[i]; d = last[k] - first[k]; printf "%-18s %8d %10.1f\n", k, d, d / s }
  }' "$work/out"
