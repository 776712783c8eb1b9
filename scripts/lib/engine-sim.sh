# Sourced by the scripts that run rankcheck against engine-sim: the demo, the README's report
# picture, the package check and bench/bench_run_all.sh.

# start_engine_sim BINARY SCENARIO DIR
# Starts engine-sim on a free port of 127.0.0.1 with its output in DIR/engine-sim.port (the port,
# printed once it accepts connections) and DIR/engine-sim.log. Sets sim_pid at once and port
# once engine-sim listens; returns 1, with the log on stderr, when it does not start.
start_engine_sim() {
  local binary=$1 scenario=$2 dir=$3
  rm -f "$dir/engine-sim.port"
  "$binary" --port 0 --scenario "$scenario" > "$dir/engine-sim.port" 2> "$dir/engine-sim.log" &
  sim_pid=$!
  port=""
  for _ in $(seq 100); do
    port=$(head -n 1 "$dir/engine-sim.port" 2> /dev/null || true)
    [ -n "$port" ] && return 0
    kill -0 "$sim_pid" 2> /dev/null || break
    sleep 0.1
  done
  echo "engine-sim did not start:" >&2
  cat "$dir/engine-sim.log" >&2
  return 1
}

# stop_engine_sim: stops the engine-sim that start_engine_sim started, if it still runs.
stop_engine_sim() {
  if [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2> /dev/null; then
    wait "$sim_pid" 2> /dev/null || true
  fi
  sim_pid=""
}

# write_proxy_def FILE PORT
# A proxy.def for a proxy without credentials at 127.0.0.1:PORT, where engine-sim answers.
write_proxy_def() {
  printf '1\r\n0\r\n127.0.0.1\r\n%s\r\n' "$2" > "$1"
}
