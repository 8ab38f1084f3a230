# A virtual display of the window benchmark's own, and a program folder
# with the build's skin and pictures. Sourced by a script running with
# `set -euo pipefail`:
#   bench_window_setup BUILD_DIR BENCH_NAME
# checks BUILD_DIR/bench/BENCH_NAME ($bench), makes the scratch folder $work
# (removed on exit with Xvfb), starts Xvfb on a free display ($display) and
# copies the skin and pictures into $work/program.
bench_window_setup() {
  local build=$1
  bench=$build/bench/$2
  [ -x "$bench" ] || { echo "no $bench: build the $2 target first" >&2; exit 1; }
  work=$(mktemp -d)
  xvfb_pid=
  trap bench_window_cleanup EXIT
  # Xvfb picks a free display and writes its number to fd 3.
  exec 3>"$work/display"
  Xvfb -displayfd 3 -br -dpi 96 -nolisten tcp -screen 0 1280x1024x24 </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  display=$(head -n1 "$work/display")
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  mkdir -p "$work/program"
  cp -r "$build/program/skins" "$build/program/res" "$work/program/"
}

bench_window_cleanup() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
