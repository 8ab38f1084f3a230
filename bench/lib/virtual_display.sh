# Sourced by the window benchmarks: a private Xvfb (it picks a free display
# and reports it on fd 3) and a program folder with the build's skin and
# pictures in a temporary folder, both gone when the script exits.
#   start_virtual_display BUILD_DIR   sets $work, $display and $program
start_virtual_display() {
  local build=$1
  work=$(mktemp -d)
  xvfb_pid=
  trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
  exec 3>"$work/display"
  Xvfb -displayfd 3 -br -dpi 96 -nolisten tcp -screen 0 1280x1024x24 </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  display=$(head -n1 "$work/display")
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  program=$work/program
  mkdir -p "$program"
  cp -r "$build/program/skins" "$build/program/res" "$program/"
}
