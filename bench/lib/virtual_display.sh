# Set-up shared by the benchmark scripts that open windows: a scratch folder
# $work with a program folder $work/program holding the build's skins and
# pictures, and a virtual display of its own ($display, picked by Xvfb).
# Both go away on exit. Sourced by a script running with `set -euo pipefail`.

# bench_virtual_display BUILD_DIR
bench_virtual_display() {
  work=$(mktemp -d)
  xvfb_pid=
  trap bench_virtual_display_cleanup EXIT
  # Xvfb picks a free display and writes its number to fd 3.
  exec 3>"$work/display"
  Xvfb -displayfd 3 -br -dpi 96 -nolisten tcp -screen 0 1280x1024x24 </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  display=$(head -n1 "$work/display")
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  mkdir -p "$work/program"
  cp -r "$1/program/skins" "$1/program/res" "$work/program/"
}

bench_virtual_display_cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}

# Runs a command on the display, as the window tests do.
on_display() {
  DISPLAY=:$display GTK_THEME=Adwaita LANG=C.UTF-8 NO_AT_BRIDGE=1 "$@"
}
