# Set-up shared by the whole-program benchmark scripts: the app topology
# (scripts/app-topology.sh) under a throwaway tag, its scratch folder $dir
# with the peers' files in $dir/peers, and $app, the program's namespace.
# The program's process id goes in $pid; on exit it is killed and everything
# is removed. Sourced, with $root set to the source tree, by a script running
# with `set -euo pipefail`.

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
