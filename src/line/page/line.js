// The operator's view of the line: one tile per socket, kept live from the
// station's event stream. Every text that comes from a device, a file, the
// database or a job is put in with textContent, never as markup.
"use strict";

const tokenKey = "farsend-line-token";
const tiles = new Map();  // index -> {root, parts}
let events = null;
let reconnectTimer = null;
let reconnectDelay = 500;

// The latency of each change, from the station's stamp to its drawing
// (milliseconds), for the benchmark; the newest 20000 are kept.
window.farsendLatencies = [];

function token() {
  return sessionStorage.getItem(tokenKey) || "";
}

// A token handed over in the address (#token=...) is kept for this tab and
// taken out of the address bar, so that it is not shown or bookmarked.
function takeTokenFromAddress() {
  const match = /(?:^#|&)token=([^&]*)/.exec(location.hash);
  if (match) {
    sessionStorage.setItem(tokenKey, decodeURIComponent(match[1]));
    history.replaceState(null, "", location.pathname + location.search);
  }
}

function element(tag, className, parent) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (parent) parent.appendChild(node);
  return node;
}

function setText(node, text) {
  const value = text === undefined || text === null ? "" : String(text);
  if (node.textContent !== value) node.textContent = value;
}

function kilobytes(bytes) {
  return (bytes / 1000).toFixed(1);
}

const stateWords = {
  waiting: "WAITING",
  identifying: "IDENTIFYING",
  programming: "PROGRAMMING",
  pass: "PASS",
  fail: "FAIL",
  unplugged: "UNPLUGGED",
};

function makeTile(index) {
  const root = element("section", "tile");
  root.dataset.index = String(index);
  const head = element("div", "tile-head", root);
  const parts = {
    name: element("span", "tile-name", head),
    host: element("span", "tile-host", head),
    word: element("div", "tile-word", root),
    detail: element("div", "tile-detail", root),
    advice: element("div", "tile-advice", root),
    bar: element("div", "bar", root),
    bytes: element("div", "tile-bytes", root),
    serial: element("div", "tile-serial", root),
    bridge: element("div", "tile-bridge", root),
    counts: element("div", "tile-counts", root),
    actions: element("div", "tile-actions", root),
  };
  parts.fill = element("div", "bar-fill", parts.bar);
  parts.passed = element("span", "passed", parts.counts);
  parts.failed = element("span", "failed", parts.counts);
  parts.retry = element("button", "retry", parts.actions);
  parts.retry.type = "button";
  parts.retry.textContent = "Retry this socket";
  parts.retry.addEventListener("click", () => act(index, "retry"));
  parts.stop = element("button", "stop", parts.actions);
  parts.stop.type = "button";
  parts.stop.addEventListener("click", () =>
    act(index, root.dataset.stopped === "true" ? "continue" : "stop"));
  return {root, parts};
}

function drawTile(station) {
  let tile = tiles.get(station.index);
  if (!tile) {
    tile = makeTile(station.index);
    tiles.set(station.index, tile);
    const grid = document.getElementById("grid");
    // In socket order, whatever order they arrive in.
    const after = [...grid.children].find((node) => Number(node.dataset.index) > station.index);
    grid.insertBefore(tile.root, after || null);
  }
  const {root, parts} = tile;
  root.dataset.state = station.state;
  root.dataset.held = String(station.held);
  root.dataset.stopped = String(station.stopped);
  setText(parts.name, station.name);
  setText(parts.host, station.host);
  let word = stateWords[station.state] || station.state.toUpperCase();
  if (station.state === "programming" && station.erasing) word = "ERASING";
  setText(parts.word, station.stopped && station.state === "waiting" ? "STOPPED" : word);

  let detail = "";
  let advice = "";
  if (station.state === "waiting") {
    detail = station.stopped ? "Takes no board until Continue" : "Waiting for a board";
  } else if (station.state === "identifying") {
    detail = station.target ? "Board: " + station.target : "Board found, identifying";
  } else if (station.state === "programming") {
    detail = station.target ? "Board: " + station.target : "";
  } else if (station.state === "pass") {
    detail = station.target ? "Programmed: " + station.target : "Programmed";
  } else {
    detail = station.reason;
    advice = station.held
      ? "Board still in the socket. " + (station.advice || "Take it out, or press Retry.")
      : station.advice;
  }
  setText(parts.detail, detail);
  setText(parts.advice, advice);

  const programming = station.state === "programming";
  parts.bar.hidden = !programming;
  const total = station.totalBytes || 0;
  const share = total > 0 ? Math.min(100, (100 * station.bytes) / total) : 0;
  parts.fill.style.width = share.toFixed(1) + "%";
  setText(parts.bytes, programming
    ? kilobytes(station.bytes) + " / " + kilobytes(total) + " kB, " +
      station.kbps.toFixed(1) + " kB/s"
    : "");
  setText(parts.serial, station.serial ? "Serial " + station.serial : "");
  setText(parts.bridge, station.bridgeSerial ? "Bridge " + station.bridgeSerial : "");
  parts.passed.dataset.count = String(station.passed);
  parts.failed.dataset.count = String(station.failed);
  setText(parts.passed, "Passed " + station.passed);
  setText(parts.failed, "Failed " + station.failed);
  parts.retry.hidden = !station.held;
  setText(parts.stop, station.stopped ? "Continue" : "Stop");

  if (station.stamp) {
    const latencies = window.farsendLatencies;
    latencies.push(Date.now() - station.stamp);
    if (latencies.length > 20000) latencies.splice(0, latencies.length - 20000);
  }
}

function drawHeader(header) {
  setText(document.getElementById("file"), header.file || "-");
  setText(document.getElementById("sha"), header.sha256 || "-");
  setText(document.getElementById("mode"), header.mode || "-");
  setText(document.getElementById("units"), header.units);
  setText(document.getElementById("passed"), header.passed);
  setText(document.getElementById("failed"), header.failed);
  setText(document.getElementById("yield"),
    header.yield === null ? "-" : (100 * header.yield).toFixed(1) + " %");
  setText(document.getElementById("rate"),
    header.unitsPerHour === null ? "-" : Math.round(header.unitsPerHour));
}

function showConnection(state, text) {
  const node = document.getElementById("connection");
  node.dataset.state = state;
  setText(node, text);
}

function notice(text) {
  const node = document.getElementById("notice");
  setText(node, text);
  node.hidden = !text;
}

function askForToken() {
  document.getElementById("token-form").hidden = false;
}

async function act(index, action) {
  try {
    const response = await fetch("/api/stations/" + index + "/" + action, {
      method: "POST",
      headers: {Authorization: "Bearer " + token()},
    });
    const answer = await response.json().catch(() => ({}));
    if (response.status === 401) askForToken();
    notice(answer.message || answer.error || "");
  } catch (error) {
    notice("The station cannot be reached: " + error.message);
  }
}

function onLine(message) {
  const update = JSON.parse(message.data);
  if (update.whole) {
    // A fresh start (after a reconnection, perhaps of a restarted run):
    // the tiles are drawn anew.
    tiles.clear();
    document.getElementById("grid").replaceChildren();
  }
  drawHeader(update.header);
  for (const station of update.stations) drawTile(station);
}

function connect() {
  if (events) events.close();
  clearTimeout(reconnectTimer);
  const query = token() ? "?token=" + encodeURIComponent(token()) : "";
  events = new EventSource("/api/events" + query);
  events.addEventListener("line", (message) => {
    reconnectDelay = 500;
    showConnection("live", "Live");
    onLine(message);
  });
  events.onerror = () => {
    showConnection("lost", "Connection lost: reconnecting...");
    if (events.readyState !== EventSource.CLOSED) return;  // the browser retries itself
    // Closed for good (refused, or the station gone): find out why, and
    // try again a little later each time.
    fetch("/api/line", {headers: {Authorization: "Bearer " + token()}})
      .then((response) => { if (response.status === 401) askForToken(); })
      .catch(() => {});
    reconnectTimer = setTimeout(connect, reconnectDelay);
    reconnectDelay = Math.min(reconnectDelay * 2, 5000);
  };
}

document.addEventListener("DOMContentLoaded", () => {
  takeTokenFromAddress();
  document.getElementById("token-form").addEventListener("submit", (submitted) => {
    submitted.preventDefault();
    sessionStorage.setItem(tokenKey, document.getElementById("token-input").value.trim());
    document.getElementById("token-form").hidden = true;
    connect();
  });
  connect();
});
