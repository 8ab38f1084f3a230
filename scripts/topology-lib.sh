# Shell functions shared by the test topologies (sourced, not run).

in_ns() {
  local ns=$1
  shift
  ip netns exec "$ns" "$@"
}

# Deletes the namespaces that exist, after ending everything inside them
# (all of it started by the topology, each ended by its pid).
delete_namespaces() {
  local ns pid
  for ns in "$@"; do
    ip netns list | awk '{print $1}' | grep -qxF "$ns" || continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -9 "$pid" 2>/dev/null || true
    done
    ip netns del "$ns"
  done
}

# Waits until something listens on the TCP port inside the namespace.
wait_listening() {
  local ns=$1 port=$2 i
  for i in $(seq 200); do
    in_ns "$ns" ss -Htln "sport = :$port" | grep -q . && return 0
    sleep 0.05
  done
  echo "nothing listens on port $port in $ns" >&2
  return 1
}

# danted's configuration: write_danted_conf FILE LOG ADDRESS PORT METHOD EXTERNAL...
write_danted_conf() {
  local file=$1 log=$2 address=$3 port=$4 method=$5
  shift 5
  {
    echo "logoutput: $log"
    echo "internal: $address port = $port"
    local ext
    for ext in "$@"; do echo "$ext"; done
    cat <<END
socksmethod: $method
clientmethod: none
user.privileged: root
user.unprivileged: nobody
client pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }
socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }
END
  } > "$file"
}

# nginx serving DIR/www on LISTEN (address:port and listen options), its
# files in DIR, with directives for the server block, the worker connections
# (1024) and directives for the http block:
# write_nginx_conf DIR LISTEN WORKERS [SERVER-DIRECTIVES [CONNECTIONS [HTTP-DIRECTIVE...]]]
write_nginx_conf() {
  local dir=$1 listen=$2 workers=${3:-2} extra=${4:-} connections=${5:-1024} http_extra="" d
  shift $(($# < 5 ? $# : 5))
  for d in "$@"; do http_extra+="  $d"$'\n'; done
  cat > "$dir/nginx.conf" <<END
user root;
worker_processes $workers;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
events { worker_connections $connections; }
http {
  access_log off;
  sendfile on;
${http_extra}  default_type application/octet-stream;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server {
    listen $listen;
    root $dir/www;
    $extra
  }
}
END
}
