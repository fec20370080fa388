#!/usr/bin/env bash
# make demo: builds the program, lays out a demo program folder, starts gateway-sim and the
# window. On a desktop the person presses Connect; without a display the window runs under Xvfb
# and is driven the way a person would, with xdotool, and the script prints what happened.
# make demo-service (demo.sh --service): the same folder drained by parlixd, which also takes 100
# messages over HTTP and shows its status page, stopped with SIGTERM.
set -euo pipefail
export LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
demo=$root/demo
queue=$build/tools/parlix-queue/parlix-queue
sim=$build/tools/gateway-sim/gateway-sim
user=demo
password=demo-pass
pids=()
# shellcheck source=scripts/gateway-sim.sh
source "$root/scripts/gateway-sim.sh"

cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}
trap cleanup EXIT

say() { printf '== %s\n' "$*"; }

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
mode=${1:-window}
cmake --build "$build" --target parlix parlixd parlix-queue gateway-sim -j "$(nproc)"

say "Demo program folder: $demo"
rm -rf "$demo"
mkdir -p "$demo/config/parlix"
cp "$build/src/gui/parlix" "$demo/parlix"

# 500 queued messages of 1 to 5 parts; some without text, some with accents.
csv=$demo/queue.csv
{
  echo "Mobileno,Message"
  base="Your order has shipped and will arrive soon. Reply STOP to opt out. "
  accents="Café déjà vu: naïve résumé, señor Müller. "
  lengths=(24 150 210 350 480 620)
  for i in $(seq 1 500); do
    number=$(printf '+9198%08d' "$i")
    if (( i % 25 == 0 )); then
      echo "$number,"
      continue
    fi
    text=$base
    (( i % 7 == 0 )) && text=$accents$base
    len=${lengths[$(( i % ${#lengths[@]} ))]}
    while (( ${#text} < len )); do text+=$text; done
    text="Message $i: ${text:0:$len}"
    echo "$number,\"${text//\"/\"\"}\""
  done
} > "$csv"
"$queue" create --db "$demo/SMSDB.MDB" >/dev/null
"$queue" upgrade --db "$demo/SMSDB.MDB" >/dev/null
"$queue" import --db "$demo/SMSDB.MDB" "$csv"

say "Starting gateway-sim"
start_gateway_sim "$demo/gateway-sim.log"
curl -fsS -d "" "$control/accounts?user=$user&password=$password&balance=5000&dr=1&notice=Welcome%20to%20the%20demo%20gateway&senderids=PARLIX,DEMO" >/dev/null
say "gateway-sim on $main, demo account '$user' with 5000 SMS"

# The configuration file: servers 1 to 5 are the simulator's; settings pick server 9.
{
  echo "# gateway servers 1 to 5, host[:port]"
  for n in 1 2 3 4 5; do echo "server$n.host=127.0.0.1:$(port_of $n)"; done
  echo "http.connect_timeout_ms=5000"
  echo "http.total_timeout_ms=30000"
  echo "payload.codepage=WINDOWS-1252"
} > "$demo/parlix.conf"
printf '[PARLIX]\nNO=9\nIP=127.0.0.1:%s\n' "$(port_of 9)" > "$demo/config/parlix/Zentroca.ini"

# Remembered credentials, so that Connect is one click.
hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }
{
  echo "; Parlix registry store: written by the program, one key a section"
  echo '[HKEY_LOCAL_MACHINE\SOFTWARE\ZENTROCA\VardexServer]'
  echo "\"PassWord\"=1:$(hex "$password")00"
  echo "\"Remember Id PassWord\"=1:$(hex 1)00"
  echo "\"UserId\"=1:$(hex "$user")00"
} > "$demo/registry.dat"
chmod 600 "$demo/registry.dat" "$demo/config/parlix/Zentroca.ini"

export XDG_CONFIG_HOME=$demo/config
sql() { sqlcipher "$demo/SMSDB.MDB" "PRAGMA key='quorin7354'; $1" | tail -n 1; }

# True once nothing is left to send and every message sent has its delivery report.
drained() {
  local left sent reported
  left=$(sql "select count(*) from MessageQueue where Status in ('Queued','Read');")
  sent=$(sql "select count(*) from MessageQueue where Status='Sent';")
  reported=$(sql "select count(*) from MessageQueue where DeliverStatus is not null;")
  [ "$left" = 0 ] && [ "$sent" != 0 ] && [ "$reported" = "$sent" ]
}

summary() {
  say "Rows per status"
  "$queue" count --db "$demo/SMSDB.MDB"
  say "What the gateway received"
  curl -fsS "$control/messages/summary"; echo
  curl -fsS "$control/debits" | grep -o '"parts":[0-9]*' | tr '\n' ' '; echo
  curl -fsS "$control/accounts" | grep -o '"balance":[0-9]*'
  say "Delivery reports applied: $(sql 'select count(*) from MessageQueue where DeliverStatus is not null;')"
}

if [ "$mode" = --service ]; then
  # The service also takes messages over HTTP, on a loopback port of its own.
  port=$(( 20000 + RANDOM % 20000 ))
  token=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  printf '%s\n' "$token" > "$demo/http.token"
  chmod 600 "$demo/http.token"
  printf 'http.listen=127.0.0.1:%s\nhttp.token_file=http.token\n' "$port" >> "$demo/parlix.conf"
  say "Starting parlixd on the demo folder; its log follows"
  "$build/src/daemon/parlixd" --folder "$demo" --settings "$demo/config/parlix" &
  service=$!
  pids+=($service)
  for _ in $(seq 1 100); do
    curl -fsS "http://127.0.0.1:$port/v1/status" >/dev/null 2>&1 && break
    sleep 0.1
  done
  body="["
  for i in $(seq 1 100); do
    body+="{\"to\":\"+9197$(printf '%08d' "$i")\",\"text\":\"Queued over HTTP, message $i\"}"
    (( i < 100 )) && body+=","
  done
  body+="]"
  say "Queueing 100 more messages over HTTP (POST /v1/messages)"
  curl -fsS -H "Authorization: Bearer $token" -H "Content-Type: application/json" \
    -H "Idempotency-Key: demo-$RANDOM" --data-binary "$body" "http://127.0.0.1:$port/v1/messages" \
    | head -c 120; echo " ..."
  say "Status page: http://127.0.0.1:$port/ (metrics at /metrics)"
  deadline=$(( SECONDS + 120 ))
  while (( SECONDS < deadline )); do
    drained && break
    sleep 1
  done
  say "Stopping parlixd with SIGTERM"
  kill -TERM "$service"
  code=0
  wait "$service" || code=$?
  say "parlixd exited with $code"
  summary
  drained && [ "$code" = 0 ] || {
    echo "the queue did not drain in time, or parlixd did not stop cleanly" >&2
    exit 1
  }
  exit 0
fi

if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && [ -t 1 ]; then
  say "Starting the window: press Connect and watch the queue drain; close it to finish"
  (cd "$demo" && ./parlix)
  summary
  exit 0
fi

say "No display: running the window under Xvfb and driving it with xdotool"
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
(cd "$demo" && exec ./parlix) > "$demo/parlix.log" 2>&1 &
app=$!
pids+=($app)

# Answers the message boxes the way an operator would, with Return.
answer_boxes() {
  local title w
  for title in "Zentroca Solutions" "PARLIX" "Parlix"; do
    for w in $(xdotool search --name "^$title\$" 2>/dev/null); do
      xdotool windowfocus --sync "$w" key Return 2>/dev/null || true
    done
  done
}

window=
for _ in $(seq 1 100); do
  answer_boxes
  window=$(xdotool search --name "^Parlix Software" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear" >&2; exit 1; }
say "Window up; pressing Connect (Alt+C)"
xdotool windowfocus --sync "$window" key alt+c

deadline=$(( SECONDS + 120 ))
while (( SECONDS < deadline )); do
  answer_boxes
  kill -0 "$app" 2>/dev/null || { echo "the program ended early" >&2; exit 1; }
  drained && break
  sleep 1
done
sleep 1
shot=$demo/screenshot.png
import -display "$display" -window root "$shot"
summary
say "Screenshot: $shot"
say "Pressing Exit (Alt+X)"
xdotool windowfocus --sync "$window" key alt+x || true
for _ in $(seq 1 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
drained || { echo "the queue did not drain in time" >&2; exit 1; }
