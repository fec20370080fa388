# Sourced by the demo scripts. start_gateway_sim LOG starts "$sim" on ports the system picks,
# adds it to "pids", waits until it listens and sets "main" (its main host) and "control" (the URL
# of its control API); port_of N then gives simulated server N's port.
start_gateway_sim() {
  "$sim" --port 0 >"$1" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    grep -q "listening" "$1" 2>/dev/null && break
    sleep 0.1
  done
  sim_line=$(grep -m1 "listening" "$1")
  main=$(sed -E 's/.*listening on ([0-9.:]+).*/\1/' <<<"$sim_line")
  control="http://$main/_sim"
}

port_of() { sed -E "s/.* $1=([0-9]+).*/\1/" <<<"$sim_line"; }
