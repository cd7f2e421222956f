// The supervisor view in a real browser (Debian's chromium, driven by
// playwright-core): a unit database of made-up rows whose yields are known,
// served by the built `farsend dashboard`; the figures the page shows must
// be theirs, its times the viewer's, and a station's name markup only as
// text.
//
// node dashboard_page_test.mjs --farsend FARSEND --samples-tool FARSEND_SAMPLES --artifacts DIR
import {execFileSync} from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import assert from "node:assert/strict";

import {
  command, launchBrowser, options, runCases, startFarsend, stopFarsend, tempDir,
} from "./harness.mjs";

const opts = options();

const INJECTED = '<img src=x onerror=alert(1)>';
// Each station's units in the hours from 09:00 UTC: P programmed, F failed,
// I interrupted, - still in hand. The reasons of the failures in order.
const STATIONS = [
  {host: 'pc1', station: '1-1', hours: ['PPPP', 'PPFP', 'PP']},
  {host: 'pc1', station: '1-2', hours: ['PF', 'PPF', 'I-']},
  {host: 'pc2', station: INJECTED, hours: ['', 'PPPPP', 'F']},
];
const REASONS = ['no answer', 'verify failed', 'no answer', 'no answer'];

function sql(text) {
  return `'${text.replaceAll("'", "''")}'`;
}

// The rows, and what the page must show for them, counted here apart from
// the program's queries.
function madeUp() {
  const rows = [];
  const expect = {stations: [], hours: new Map(), reasons: new Map()};
  let serial = 1000;
  let failure = 0;
  for (const s of STATIONS) {
    const counts = {P: 0, F: 0, I: 0, '-': 0};
    s.hours.forEach((units, hour) => {
      [...units].forEach((result, n) => {
        const start = `2024-05-01T${String(9 + hour).padStart(2, '0')}:${String(5 * n + 1).padStart(2, '0')}:00Z`;
        const message = result === 'F' ? REASONS[failure++] : '';
        rows.push({...s, start, result, message, serial: serial++});
        counts[result]++;
        const h = expect.hours.get(hour) || {P: 0, F: 0, I: 0, '-': 0};
        h[result]++;
        expect.hours.set(hour, h);
        if (message) expect.reasons.set(message, (expect.reasons.get(message) || 0) + 1);
      });
    });
    expect.stations.push({...s, counts});
  }
  return {rows, expect};
}

function percent(c) {
  const finished = c.P + c.F + c.I;
  return finished ? `${(100 * c.P / finished).toFixed(1)} %` : '-';
}

const names = {P: 'programmed', F: 'failed', I: 'interrupted'};
function insert(row) {
  const done = row.result !== '-';
  return 'INSERT INTO units (record_id, start_time, end_time, host, station, bridge_serial,' +
    ' file, sha256, serial, result, exit_status, message) VALUES (' +
    [sql(`r${row.serial}`), sql(row.start), done ? sql(row.start) : 'NULL', sql(row.host),
      sql(row.station), sql('BR1'), sql('fw.hex'), sql('ab'), row.serial,
      done ? sql(names[row.result]) : 'NULL', done ? (row.result === 'P' ? 0 : 6) : 'NULL',
      sql(row.message)].join(', ') + ');';
}

async function madeUpUnits() {
  const dir = tempDir('dashboard');
  let server = null;
  let browser = null;
  try {
  const db = path.join(dir, 'units.sqlite');
  // The schema as farsend makes it, then the made-up rows.
  execFileSync(...command(opts.farsend, ['units', '--db', db]), {stdio: 'ignore'});
  const {rows, expect} = madeUp();
  // Written around farsend, as a farsend of the schema before the
  // dashboard's counts left them: the next farsend to open the database
  // counts them, once.
  execFileSync('sqlite3', [db], {input: `BEGIN;\n${rows.map(insert).join('\n')}\n` +
    'DROP TABLE unit_counts;\nUPDATE schema_version SET version = 3;\nCOMMIT;\n'});
  execFileSync(...command(opts.farsend, ['units', '--db', db]), {stdio: 'ignore'});

  server = await startFarsend(opts.farsend, ['dashboard', '--db', db, '--listen', '127.0.0.1:0']);
  browser = await launchBrowser();
  // A zone half an hour off UTC: an hour that is 09:00 UTC starts at 14:30.
  const context = await browser.newContext({timezoneId: 'Asia/Kolkata', locale: 'en-GB'});
  const page = await context.newPage();
  const dialogs = [];
  page.on('dialog', (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
  const outside = [];
  page.on('request', (request) => {
    if (!request.url().startsWith(server.url)) outside.push(request.url());
  });
  await page.goto(`${server.url}?from=2024-05-01T08:00:00Z&to=2024-05-01T13:00:00Z`);
  await page.waitForFunction(() => document.querySelectorAll('#stations tbody tr').length > 0);

  const total = {P: 0, F: 0, I: 0, '-': 0};
  for (const s of expect.stations) for (const k in total) total[k] += s.counts[k];
  const text = (id) => page.textContent(`#${id}`);
  assert.equal(await text('total-programmed'), String(total.P));
  assert.equal(await text('total-failed'), String(total.F));
  assert.equal(await text('total-interrupted'), String(total.I));
  assert.equal(await text('total-unfinished'), String(total['-']));
  assert.equal(await text('total-yield'), percent(total));
  // Every hour had finished units: the mean over the three.
  assert.equal(await text('units-per-hour'), ((total.P + total.F + total.I) / 3).toFixed(1));

  const table = (id) => page.$$eval(`#${id} tbody tr`,
    (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
  const stations = await table('stations');
  const wanted = [...expect.stations]
    .sort((a, b) => (a.host + a.station < b.host + b.station ? -1 : 1))
    .map((s) => [s.host, s.station, String(s.counts.P), String(s.counts.F), String(s.counts.I),
      String(s.counts['-']), percent(s.counts)]);
  assert.deepEqual(stations, wanted);

  const hours = await table('hours');
  assert.deepEqual(hours.map((h) => h.slice(1)), [...expect.hours.keys()].sort().map((k) => {
    const c = expect.hours.get(k);
    return [String(c.P), String(c.F), String(c.I), String(c['-']), percent(c)];
  }));
  assert.match(hours[0][0], /01\/05\/2024, 14:30:00/);

  const reasons = await table('reasons');
  assert.deepEqual(reasons.map((r) => [r[1], r[0]]),
    [...expect.reasons].sort((a, b) => b[1] - a[1]).map(([m, n]) => [m, String(n)]));

  // Markup from the database is text: shown as written, never an element.
  assert.equal(await page.locator('img').count(), 0);
  assert.ok(stations.some((row) => row[1] === INJECTED));

  await page.fill('#serial', String(rows[5].serial));
  await page.click('#lookup button');
  await page.waitForFunction(() => !document.getElementById('found').hidden);
  const found = await table('found');
  assert.equal(found.length, 1);
  assert.equal(found[0][3], rows[5].station);

  // The export holds every unit of the range: a header and a line each.
  const csv = await page.evaluate(async () => (await fetch(document.getElementById('csv').href)).text());
  assert.equal(csv.trimEnd().split('\r\n').length, 1 + rows.length);

  // Another site's page may not read the figures through the viewer's
  // browser.
  const foreign = await fetch(`${server.url}api/dashboard/summary`,
    {headers: {Origin: 'http://elsewhere.example'}});
  assert.equal(foreign.status, 403);

  fs.mkdirSync(opts.artifacts, {recursive: true});
  await page.screenshot({path: path.join(opts.artifacts, 'dashboard.png'), fullPage: true});
  assert.deepEqual(dialogs, [], 'a script ran from the database\'s text');
  assert.deepEqual(outside, [], 'the page fetched from outside its server');
  } finally {
    if (browser) await browser.close();
    // Ctrl+C is how a dashboard ends: status 0.
    if (server) assert.equal((await stopFarsend(server)).code, 0, server.err);
    fs.rmSync(dir, {recursive: true, force: true});
  }
}

await runCases([['the figures of made-up units, in the viewer\'s time', madeUpUnits]]);
