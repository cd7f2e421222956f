// The supervisor view: asks farsend's JSON API for the range chosen and
// draws what it says. Times travel in UTC and are shown in the viewer's
// time zone. Every string from the database goes into the page as text
// (textContent), never as markup: a serial or a location came from a device.
'use strict';

const $ = (id) => document.getElementById(id);
const tokenKey = 'farsend-dashboard-token';

// A token handed over in the address (#token=...) is kept for this tab and
// taken out of the address bar, so that it is not shown or bookmarked. The
// dashboard needs it only when served beyond the supervisor's own PC.
function takeTokenFromAddress() {
  const match = /(?:^#|&)token=([^&]*)/.exec(location.hash);
  if (match) {
    sessionStorage.setItem(tokenKey, decodeURIComponent(match[1]));
    history.replaceState(null, '', location.pathname + location.search);
  }
}

function token() {
  return sessionStorage.getItem(tokenKey) || '';
}
const COLUMNS = [
  ['start', 'Start', (r) => localTime(r.start)],
  ['end', 'End', (r) => (r.end ? localTime(r.end) : '')],
  ['host', 'Host', (r) => r.host],
  ['station', 'Station', (r) => r.station],
  ['bridgeSerial', 'Bridge', (r) => r.bridgeSerial],
  ['serial', 'Serial', (r) => (r.serial === null ? '' : String(r.serial))],
  ['result', 'Result', (r) => r.result],
  ['variant', 'Variant', (r) => r.variant],
  ['version', 'Version', (r) => r.version],
  ['file', 'File', (r) => r.file],
  ['message', 'Message', (r) => r.message],
];

function localTime(utc) {
  return new Date(utc).toLocaleString();
}

// "2024-05-01T12:00:00Z" from a datetime-local value, read as local time.
function toUtc(local) {
  return new Date(local).toISOString().replace(/\.\d{3}Z$/, 'Z');
}

// A Date as a datetime-local value, in local time.
function toLocalInput(date) {
  const pad = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}` +
    `T${pad(date.getHours())}:${pad(date.getMinutes())}`;
}

function percent(yieldValue) {
  return yieldValue === null ? '-' : `${(100 * yieldValue).toFixed(1)} %`;
}

function cell(row, text, className) {
  const td = document.createElement('td');
  td.textContent = text;
  if (className) td.className = className;
  row.appendChild(td);
}

function fill(table, items, render) {
  const body = table.tBodies[0];
  body.replaceChildren();
  for (const item of items) {
    const row = document.createElement('tr');
    render(row, item);
    body.appendChild(row);
  }
}

function countCells(row, c) {
  cell(row, String(c.programmed), 'n');
  cell(row, String(c.failed), 'n');
  cell(row, String(c.interrupted), 'n');
  cell(row, String(c.unfinished), 'n');
  cell(row, percent(c.yield), 'n');
}

function rowTable(table, rows) {
  const head = document.createElement('tr');
  for (const [, title] of COLUMNS) {
    const th = document.createElement('th');
    th.textContent = title;
    head.appendChild(th);
  }
  table.tHead.replaceChildren(head);
  fill(table, rows, (tr, r) => {
    tr.className = r.result;
    for (const [key, , text] of COLUMNS) cell(tr, text(r), key);
  });
}

function rangeQuery() {
  const query = new URLSearchParams();
  query.set('from', toUtc($('from').value));
  query.set('to', toUtc($('to').value));
  if ($('host').value) query.set('host', $('host').value);
  if ($('station').value) query.set('station', $('station').value);
  return query;
}

async function ask(path, query) {
  const headers = token() ? {Authorization: `Bearer ${token()}`} : {};
  const answer = await fetch(`${path}?${query}`, {cache: 'no-store', headers});
  const body = await answer.json();
  if (!answer.ok) throw new Error(body.error || `${answer.status}`);
  return body;
}

function showError(error) {
  $('error').textContent = error ? String(error.message || error) : '';
  $('error').hidden = !error;
}

const charts = {};
function chart(name, element, options, data) {
  if (charts[name]) charts[name].destroy();
  element.replaceChildren();
  const width = Math.max(320, element.clientWidth || 800);
  charts[name] = new uPlot({width, height: 260, ...options}, data, element);
}

function drawStations(stations) {
  const names = stations.map((s) => (s.host ? `${s.host} ${s.station}` : s.station));
  const x = stations.map((_, i) => i);
  const bars = uPlot.paths.bars({size: [0.6, 60]});
  chart('stations', $('station-chart'), {
    scales: {x: {time: false, range: [-0.5, Math.max(0.5, stations.length - 0.5)]},
      y: {range: [0, 100]}},
    axes: [{values: (u, ticks) => ticks.map((t) => names[t] ?? ''), splits: () => x},
      {label: 'yield %'}],
    series: [{label: 'station', value: (u, i) => names[i] ?? ''},
      {label: 'yield %', paths: bars, fill: '#2e7d3288', stroke: '#2e7d32',
        value: (u, v) => (v === null ? '-' : `${v.toFixed(1)} %`)}],
  }, [x, stations.map((s) => (s.yield === null ? null : 100 * s.yield))]);
}

function drawHours(hours) {
  // uPlot shows time stamps (seconds) in the viewer's time zone.
  const x = hours.map((h) => Date.parse(h.hour) / 1000);
  chart('hours', $('hour-chart'), {
    scales: {y: {range: [0, 100]}, units: {}},
    axes: [{}, {label: 'yield %'}, {scale: 'units', side: 1, label: 'units', grid: {show: false}}],
    series: [{},
      {label: 'yield %', stroke: '#2e7d32', width: 2,
        value: (u, v) => (v === null ? '-' : `${v.toFixed(1)} %`)},
      {label: 'units', scale: 'units', stroke: '#1565c0', width: 2}],
  }, [x, hours.map((h) => (h.yield === null ? null : 100 * h.yield)),
    hours.map((h) => h.programmed + h.failed + h.interrupted)]);
}

async function show() {
  showError(null);
  const query = rangeQuery();
  try {
    const [summary, units] = await Promise.all([
      ask('/api/dashboard/summary', query), ask('/api/dashboard/units', query)]);
    const t = summary.totals;
    $('total-programmed').textContent = String(t.programmed);
    $('total-failed').textContent = String(t.failed);
    $('total-interrupted').textContent = String(t.interrupted);
    $('total-unfinished').textContent = String(t.unfinished);
    $('total-yield').textContent = percent(t.yield);
    $('units-per-hour').textContent = t.unitsPerHour === null ? '-' : t.unitsPerHour.toFixed(1);
    fill($('stations'), summary.stations, (tr, s) => {
      cell(tr, s.host, 'host');
      cell(tr, s.station, 'station');
      countCells(tr, s);
    });
    fill($('hours'), summary.hours, (tr, h) => {
      cell(tr, localTime(h.hour), 'hour');
      countCells(tr, h);
    });
    fill($('reasons'), summary.reasons, (tr, r) => {
      cell(tr, String(r.units), 'n');
      cell(tr, r.message, 'message');
      cell(tr, localTime(r.latest), 'latest');
    });
    drawStations(summary.stations);
    drawHours(summary.hours);
    const all = t.programmed + t.failed + t.interrupted + t.unfinished;
    rowTable($('units'), units.rows);
    $('rows-note').textContent = units.rows.length < all ?
      `The newest ${units.rows.length} of ${all} units.` : `${all} units.`;
    // A link cannot carry a header: the token, when one is needed, goes in
    // its query.
    const csvQuery = new URLSearchParams(query);
    if (token()) csvQuery.set('token', token());
    $('csv').href = `/api/dashboard/units.csv?${csvQuery}`;
    $('csv').textContent = `Export all ${all} as CSV`;
  } catch (error) {
    showError(error);
  }
}

async function lookUp() {
  const serial = $('serial').value.trim();
  try {
    const found = await ask('/api/dashboard/unit', new URLSearchParams({serial}));
    $('lookup-note').textContent = found.rows.length ?
      `${found.rows.length} unit(s) with serial ${found.serial}.` :
      `No unit has serial ${found.serial}.`;
    $('found').hidden = !found.rows.length;
    rowTable($('found'), found.rows);
  } catch (error) {
    $('lookup-note').textContent = String(error.message || error);
    $('found').hidden = true;
  }
}

function start() {
  takeTokenFromAddress();
  const now = new Date();
  const params = new URLSearchParams(location.search);
  // A link may name the range in UTC (?from=...&to=...), as the API does.
  const to = params.get('to') ? new Date(params.get('to')) : now;
  const from = params.get('from') ? new Date(params.get('from')) :
    new Date(to.getTime() - 24 * 3600 * 1000);
  $('from').value = toLocalInput(from);
  $('to').value = toLocalInput(to);
  $('zone').textContent = Intl.DateTimeFormat().resolvedOptions().timeZone || 'local time';
  $('range').addEventListener('submit', (e) => { e.preventDefault(); show(); });
  $('lookup').addEventListener('submit', (e) => { e.preventDefault(); lookUp(); });
  show();
}

start();
