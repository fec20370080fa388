#!/usr/bin/env bash
# make demo-shared: three parlixd drain one queue in a private PostgreSQL to gateway-sim. The
# gateway holds the reply to worker 2's last upload piece, and worker 2 is killed with SIGKILL
# while it waits: the gateway then holds that batch, so its rows must not go again. Worker 2 is
# started again, the others go on, and once the claim's lease (5 s) has run out a surviving
# worker marks those rows "Deleted". The script prints what each worker sent, what the gateway
# received and the final statuses, and fails unless every message reached the gateway once.
# No display is needed. Everything it started is stopped when it ends, also on Ctrl-C.
set -euo pipefail
export LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
demo=$root/demo-shared
queue=$build/tools/parlix-queue/parlix-queue
sim=$build/tools/gateway-sim/gateway-sim
parlixd=$build/src/daemon/parlixd
messages=10000
user=demo
password=demo-pass
pgbin=$(pg_config --bindir)
cluster=
declare -A workers=()
pids=()
# shellcheck source=scripts/gateway-sim.sh
source "$root/scripts/gateway-sim.sh"

say() { printf '== %s\n' "$*"; }

# The server refuses to run as root: as root its programs run as the user postgres.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

cleanup() {
  for pid in "${workers[@]}" "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ -n "$cluster" ]; then
    as_server "$pgbin/pg_ctl" -D "$cluster/data" -m immediate -w stop >/dev/null 2>&1 || true
    rm -rf "$cluster"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target parlixd parlix-queue gateway-sim -j "$(nproc)"

rm -rf "$demo"
mkdir -p "$demo"

say "Starting a private PostgreSQL (a new cluster, a Unix socket only)"
cluster=$(mktemp -d /tmp/parlix-demo-pg.XXXXXX)
if [ "$(id -u)" -eq 0 ]; then chown postgres: "$cluster"; fi
as_server "$pgbin/initdb" -D "$cluster/data" -U postgres -A trust -E UTF8 >"$cluster/initdb.log"
as_server "$pgbin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w \
  -o "-k $cluster -c listen_addresses=''" start >/dev/null
"$pgbin/createdb" -h "$cluster" -U postgres parlix
conn="host=$cluster user=postgres dbname=parlix"
sql() { psql -h "$cluster" -U postgres -d parlix -Atq -c "$1"; }

say "Queueing $messages messages in $conn"
csv=$demo/queue.csv
{
  echo "Mobileno,Message"
  for i in $(seq 1 "$messages"); do
    printf '+9198%08d,Shared queue demo message %d: your order has shipped.\n' "$i" "$i"
  done
} >"$csv"
"$queue" create --db "$conn" >/dev/null
"$queue" upgrade --db "$conn" >/dev/null
"$queue" import --db "$conn" "$csv"

say "Starting gateway-sim"
start_gateway_sim "$demo/gateway-sim.log"
curl -fsS -d "" "$control/accounts?user=$user&password=$password&balance=1000000&dr=no&notice=&senderids=PARLIX" >/dev/null
# Worker N talks to simulated server N, so the gateway tells the workers apart, and the held
# reply is worker 2's alone: the last piece of its message file.
curl -fsS -d "" "$control/faults?server=2&delay_ms=120000&match=Status%3D1*_NW" >/dev/null
say "gateway-sim on $main: one account '$user' with sender ids, so a worker takes up to 2000 rows a tick"

start_worker() {
  local n=$1 folder=$demo/worker$1
  "$parlixd" --folder "$folder" --settings "$folder/config" --credentials "$folder/credentials" \
    >>"$folder/parlixd.log" 2>&1 &
  workers[$n]=$!
}

for n in 1 2 3; do
  folder=$demo/worker$n
  mkdir -p "$folder/config"
  {
    echo "queue.url=$conn"
    echo "queue.lease_s=5"
    echo "server1.host=127.0.0.1:$(port_of "$n")"
    echo "http.total_timeout_ms=30000"
  } >"$folder/parlix.conf"
  printf 'user=%s\npassword=%s\n' "$user" "$password" >"$folder/credentials"
  chmod 600 "$folder/credentials"
done
say "Starting three parlixd, each on its own program folder ($demo/worker1..3)"
for n in 1 2 3; do start_worker "$n"; done

# Worker 2 waits for the reply once its claim is marked as reaching the gateway and the gateway
# holds the batch; still so a second later, it is held, not merely quick.
held=
for _ in $(seq 1 120); do
  claim=$(sql "SELECT ID || ' ' || Batch FROM ParlixClaims WHERE Reaching AND Installation LIKE '%/worker2'")
  if [ -n "$claim" ] && curl -fsS "$control/batches" | grep -q "\"flag\":\"${claim#* }\""; then
    if [ "$claim" = "$held" ]; then break; fi
    held=$claim
  fi
  sleep 1
done
[ -n "$held" ] && [ "$claim" = "$held" ] || { echo "worker 2 never waited on its last piece" >&2; exit 1; }
rows=$(sql "SELECT count(*) FROM MessageQueue WHERE ClaimID = ${held%% *}")
kill -KILL "${workers[2]}"
wait "${workers[2]}" 2>/dev/null || true
say "Killed worker 2 with SIGKILL in mid-batch: the gateway holds its batch ${held#* } ($rows rows, claim ${held%% *}), whose reply never came"
curl -fsS -d "" "$control/faults/clear" >/dev/null
say "Starting worker 2 again; the claim's lease runs out 5 s after its last renewal"
start_worker 2

deadline=$(( SECONDS + 180 ))
while (( SECONDS < deadline )); do
  left=$(sql "SELECT count(*) FROM MessageQueue WHERE lower(Status) IN ('queued', 'read')")
  [ "$left" = 0 ] && break
  sleep 1
done
say "Stopping the workers with SIGTERM"
codes=
for n in 1 2 3; do
  kill -TERM "${workers[$n]}"
  code=0
  wait "${workers[$n]}" || code=$?
  unset "workers[$n]"
  codes+=" worker $n: $code"
done
say "Exit codes:$codes"

received=$(curl -fsS "$control/messages")
say "What each worker sent (its log's \"Successfully Sent\"; what the gateway received from it)"
for n in 1 2 3; do
  log=$demo/worker$n/parlixd.log
  sent=$({ grep -o 'Successfully Sent: [0-9]*' "$log" || true; } |
    awk '{s += $3; b++} END {printf "%d messages in %d batches", s, b}')
  got=$({ grep -o "\"server\":\"$n\"" <<<"$received" || true; } | wc -l)
  echo "worker $n: $sent; the gateway received $got from it"
done
say "What the recovery did"
grep -H "Interrupted batch" "$demo"/worker*/parlixd.log | sed -E "s|^$demo/||; s|/parlixd.log:| |" || echo "nothing"

say "What the gateway received"
numbers=$(grep -o '"number":"[0-9]*"' <<<"$received" | sort)
total=$(wc -l <<<"$numbers")
distinct=$(uniq <<<"$numbers" | wc -l)
twice=$(uniq -d <<<"$numbers" | wc -l)
curl -fsS "$control/messages/summary"; echo
echo "messages $total, of $distinct numbers (queued: $messages), numbers received more than once: $twice"

say "Final statuses"
"$queue" count --db "$conn"

left=$(sql "SELECT count(*) FROM MessageQueue WHERE lower(Status) IN ('queued', 'read')")
if [ "$total" = "$messages" ] && [ "$distinct" = "$messages" ] && [ "$left" = 0 ]; then
  say "Every message reached the gateway exactly once"
else
  echo "the queue did not drain, or a message was lost or sent twice" >&2
  exit 1
fi
