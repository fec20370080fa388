#include "daemon/http_page.h"

namespace parlix {

// Every value from the service goes in through textContent or an attribute, never as markup:
// activity-log lines and status texts may hold anything.
const char* const kStatusPage = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Parlix service</title>
<style>
  :root { --ink: #1d2433; --muted: #5b6475; --line: #d9dee8; --card: #fff; --bg: #f2f4f8;
          --accent: #2f6fde; --good: #1f8a4c; --bad: #c23b2a; }
  * { box-sizing: border-box; }
  body { margin: 0; font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif;
         color: var(--ink); background: var(--bg); }
  header { display: flex; flex-wrap: wrap; align-items: baseline; gap: .25rem 1rem;
           padding: .9rem 1.2rem; background: var(--ink); color: #fff; }
  header h1 { margin: 0; font-size: 1.2rem; }
  header span { color: #c5cbd8; font-size: .85rem; }
  main { max-width: 1100px; margin: 0 auto; padding: 1rem; display: grid; gap: 1rem;
         grid-template-columns: repeat(auto-fit, minmax(240px, 1fr)); }
  section { background: var(--card); border: 1px solid var(--line); border-radius: 8px;
            padding: .9rem 1rem; min-width: 0; }
  section.wide { grid-column: 1 / -1; }
  h2 { margin: 0 0 .5rem; font-size: .8rem; letter-spacing: .06em; text-transform: uppercase;
       color: var(--muted); }
  .big { font-size: 1.7rem; font-weight: 600; }
  .state-on { color: var(--good); } .state-off { color: var(--bad); }
  dl { margin: 0; display: grid; grid-template-columns: auto 1fr; gap: .2rem .8rem; }
  dt { color: var(--muted); } dd { margin: 0; overflow-wrap: anywhere; }
  table { width: 100%; border-collapse: collapse; }
  th, td { padding: .25rem 0; border-bottom: 1px solid var(--line); text-align: left; }
  td { text-align: right; font-variant-numeric: tabular-nums; }
  ol { margin: 0; padding: 0; list-style: none; max-height: 18rem; overflow: auto;
       font: 13px/1.4 ui-monospace, "DejaVu Sans Mono", monospace; }
  ol li { padding: .2rem 0; border-bottom: 1px solid var(--line); overflow-wrap: anywhere; }
  svg { width: 100%; height: 150px; display: block; border-bottom: 1px solid var(--line); }
  .bar { fill: var(--accent); }
  .axis { display: flex; justify-content: space-between; color: var(--muted); font-size: .8rem; }
  #problem { display: none; grid-column: 1 / -1; background: #fdecea; color: var(--bad);
             border-color: #f3c2bb; }
  @media (max-width: 520px) { main { padding: .6rem; gap: .6rem; } .big { font-size: 1.4rem; } }
</style>
</head>
<body>
<header><h1>Parlix service</h1><span id="updated">loading…</span></header>
<main>
  <section id="problem"></section>
  <section><h2>Gateway</h2>
    <div class="big" id="login">–</div>
    <dl><dt>Server</dt><dd id="server">–</dd><dt>Last tick</dt><dd id="last-tick">–</dd></dl>
  </section>
  <section><h2>Balance</h2><div class="big" id="balance">–</div><div>SMS left</div></section>
  <section><h2>Sent in the last minute</h2><div class="big" id="sent-minute">–</div>
    <div>messages</div></section>
  <section><h2>Queue by status</h2><table><tbody id="queue"></tbody></table></section>
  <section class="wide"><h2>Messages sent per minute, last hour</h2>
    <svg id="chart" viewBox="0 0 600 150" preserveAspectRatio="none" role="img"
         aria-label="messages sent per minute over the last hour"></svg>
    <div class="axis"><span>60 min ago</span><span id="chart-top"></span><span>now</span></div>
  </section>
  <section class="wide"><h2>Activity log</h2><ol id="log"></ol></section>
</main>
<script>
"use strict";
const svgNs = "http://www.w3.org/2000/svg";
function text(id, value) { document.getElementById(id).textContent = value; }
function drawChart(perMinute) {
  const chart = document.getElementById("chart");
  chart.replaceChildren();
  const top = Math.max(1, ...perMinute), width = 600 / perMinute.length;
  perMinute.forEach((n, i) => {
    const h = n / top * 145, bar = document.createElementNS(svgNs, "rect");
    bar.setAttribute("x", i * width + 1); bar.setAttribute("width", width - 2);
    bar.setAttribute("y", 150 - h); bar.setAttribute("height", h);
    bar.setAttribute("class", "bar"); bar.setAttribute("data-count", n);
    chart.append(bar);
  });
  text("chart-top", "busiest minute: " + Math.max(0, ...perMinute).toLocaleString("en"));
}
function show(s) {
  const login = document.getElementById("login");
  login.textContent = s.login; login.className = "big " + (s.login === "logged in" ? "state-on" : "state-off");
  text("server", s.server || "none yet");
  text("balance", s.balance.toLocaleString("en"));
  text("sent-minute", s.sent_last_minute.toLocaleString("en"));
  text("last-tick", s.last_tick ? s.last_tick.time.replace("T", " ").slice(0, 19) + ", " + s.last_tick.outcome : "none yet");
  const queue = document.getElementById("queue");
  queue.replaceChildren();
  for (const [status, rows] of Object.entries(s.queue)) {
    const tr = document.createElement("tr"), th = document.createElement("th"), td = document.createElement("td");
    th.textContent = status; td.textContent = rows.toLocaleString("en"); td.setAttribute("data-status", status);
    td.setAttribute("data-rows", rows); tr.append(th, td); queue.append(tr);
  }
  if (!queue.children.length) { queue.innerHTML = "<tr><th>The queue is empty</th></tr>"; }
  const log = document.getElementById("log");
  log.replaceChildren(...s.activity.map(line => { const li = document.createElement("li"); li.textContent = line; return li; }));
  drawChart(s.sent_per_minute);
}
async function refresh() {
  const problem = document.getElementById("problem");
  try {
    const reply = await fetch("/v1/status", { cache: "no-store" });
    if (!reply.ok) { throw new Error("the service answered " + reply.status); }
    show(await reply.json());
    problem.style.display = "none";
    text("updated", "updated " + new Date().toLocaleTimeString("en-GB"));
  } catch (e) {
    problem.textContent = "Cannot read the service's status: " + e.message;
    problem.style.display = "block";
  }
}
refresh();
setInterval(refresh, 5000);
</script>
</body>
</html>
)PAGE";

}  // namespace parlix
