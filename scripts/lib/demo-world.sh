# Shared by scripts/demo, scripts/soak-kill and bench/session/continued-session:
# an nginx serving a demo channel in the foreground, and an end for every
# process started from a directory. Source it; it defines functions only.

nginx_pid=

# start_nginx DIR ROOT PORT [RATE]
# Serves ROOT on 127.0.0.1:PORT, with its configuration, logs and temporary
# files in DIR (access log: DIR/logs/access.log, "path status bytes" per
# request). RATE limits every response to that many bytes per second.
# Returns once the port answers.
start_nginx() {
  local dir=$1 www=$2 port=$3 rate=${4:-0}
  mkdir -p "$dir/logs"
  cat >"$dir/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
error_log $dir/logs/error.log;
pid $dir/nginx.pid;
events { worker_connections 64; }
http {
    log_format served '\$uri \$status \$body_bytes_sent';
    access_log $dir/logs/access.log served;
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root $www;
        limit_rate $rate;
    }
}
CONF
  nginx -p "$dir" -e "$dir/logs/error.log" -c "$dir/nginx.conf" &
  nginx_pid=$!
  local _
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "nginx did not start on 127.0.0.1:$port (is the port taken?); see $dir/logs/error.log" >&2
  return 1
}

stop_nginx() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  nginx_pid=
  return 0
}

# kill_under DIR
# Ends, with SIGKILL, every process whose program or command line lies below
# DIR (an updater started detached, the install commands and the client it
# starts), but not this shell and not nginx.
kill_under() {
  local dir=$1 pids pid exe _
  for _ in $(seq 50); do
    pids=()
    for proc in /proc/[0-9]*; do
      pid=${proc#/proc/}
      exe=$(readlink "$proc/exe" 2>/dev/null || true)
      if [[ $exe == "$dir/"* ]] || tr '\0' ' ' 2>/dev/null <"$proc/cmdline" | grep -qF "$dir/"; then
        [ "$pid" != $$ ] && [ "$pid" != "$nginx_pid" ] && [ "$pid" != "$BASHPID" ] && pids+=("$pid")
      fi
    done
    [ "${#pids[@]}" -eq 0 ] && return 0
    kill -KILL "${pids[@]}" 2>/dev/null || true
    sleep 0.05
  done
}

# step_two_running TMPDIR: whether an updater runs from a session directory.
step_two_running() {
  local proc
  for proc in /proc/[0-9]*; do
    [[ $(readlink "$proc/exe" 2>/dev/null || true) == "$1/quorvex_temp_"* ]] && return 0
  done
  return 1
}
