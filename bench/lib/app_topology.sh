# Set-up shared by the whole-program benchmark scripts: the app topology
# (scripts/app-topology.sh) under a throwaway tag, its scratch folder $dir
# with the peers' files in $dir/peers, and $app, the program's namespace.
# The program's process id goes in $pid; on exit it is killed and everything
# is removed. Sourced, with $root set to the source tree, by a script running
# with `set -euo pipefail`.

# The interpreter for the channel client: the system's, which root and the
# desktop user alike can run, never a shim in root's home (pyenv's, say)
# whose own start-up of seconds would land in every time measured.
bench_python=/usr/bin/python3

# bench_app_topology PREFIX
bench_app_topology() {
  tag=$1$$
  dir=$(mktemp -d "/tmp/cda-$1.XXXXXX")
  app=cda-app-$tag
  pid=
  trap bench_app_cleanup EXIT
  bash "$root/scripts/app-topology.sh" create "$tag" "$dir/peers"
}

bench_app_cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  bash "$root/scripts/app-topology.sh" delete "$tag" || true
  rm -rf "$dir"
}

# bench_status_count LOG TEXT: how many status lines holding TEXT the
# program's output LOG has so far. The state reads "disconnected" from the
# moment a disconnect starts; its "Disconnected!" line comes when the
# network is back as it was.
bench_status_count() {
  grep -c -F -- "$2" "$1" || true
}
