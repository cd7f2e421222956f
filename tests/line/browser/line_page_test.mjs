// The line page in a real browser, served by the built farsend over
// simulated bridges: what the tiles show against what was recorded, the
// actions, text from devices kept as text, who may do what, and the page
// finding its station again after a restart.
//
// node line_page_test.mjs --farsend FARSEND --samples-tool FARSEND_SAMPLES --artifacts DIR
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

import {
  check, equal, launchBrowser, options, reportRows, runCases, startFarsend, stopFarsend, tempDir,
  until,
} from "./harness.mjs";

const opts = options();
const sample = path.join(opts.samples, "Farsend_15_bt.hex");
const hostile = "<img src=x onerror=alert(1)>";
// The Windows build (under Wine) has no unit database: its units are
// followed in the --report file alone, as here everywhere.
const database = (dir) => (opts.runner ? [] : ["--db", path.join(dir, "units.sqlite")]);
fs.mkdirSync(opts.artifacts, {recursive: true});

// Each tile as the page shows it.
async function readTiles(page) {
  return page.$$eval(".tile", (nodes) => nodes.map((node) => ({
    index: Number(node.dataset.index),
    state: node.dataset.state,
    held: node.dataset.held === "true",
    stopped: node.dataset.stopped === "true",
    passed: Number(node.querySelector(".passed").dataset.count),
    failed: Number(node.querySelector(".failed").dataset.count),
    colour: getComputedStyle(node).backgroundColor,
    name: node.querySelector(".tile-name").textContent,
    bridge: node.querySelector(".tile-bridge").textContent,
    detail: node.querySelector(".tile-detail").textContent,
    advice: node.querySelector(".tile-advice").textContent,
    retryShown: !node.querySelector(".retry").hidden,
  })));
}

// Records every state each tile goes through, from the first drawing on.
function watchStates() {
  window.statesSeen = {};
  new MutationObserver((changes) => {
    for (const change of changes) {
      const node = change.target;
      if (!node.classList || !node.classList.contains("tile")) continue;
      const seen = (window.statesSeen[node.dataset.index] ||= []);
      if (seen[seen.length - 1] !== node.dataset.state) seen.push(node.dataset.state);
    }
  }).observe(document, {subtree: true, attributes: true, attributeFilter: ["data-state"]});
}

function rowsOf(rows, station) {
  return rows.filter((row) => row.station === station);
}

async function simulatedLine(browser) {
  const dir = tempDir("line");
  const report = path.join(dir, "units.jsonl");
  const run = await startFarsend(opts.farsend, [
    "--simulate", "--sim-real-time", "--sim-bridges=4", "--sim-targets=3",
    "--sim-variant=2:ZigBee", "--sim-faults=3:unplug=40000", `--sim-bridge-serial=4:${hostile}`,
    "line", "--all", sample, ...database(dir), "--report", report, "--listen", "127.0.0.1:0",
  ], dir);
  const page = await browser.newPage();
  const dialogs = [];
  page.on("dialog", (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
  try {
    await page.addInitScript(watchStates);
    await page.goto(`${run.url}#token=${run.token}`);
    // The token is taken out of the address bar.
    equal(new URL(page.url()).hash, "", "the address after the token was taken");
    await until("the line done: 3 + 1 + 1 + 3 units", async () => {
      const units = await page.textContent("#units");
      return units === "8" ? units : null;
    });
    await until("the misfit's tile held", async () => {
      const tiles = await readTiles(page);
      return tiles.length === 4 && tiles[1].held && tiles[2].state === "unplugged";
    });
    let tiles = await readTiles(page);
    await page.screenshot({path: path.join(opts.artifacts, "line-page.png"), fullPage: true});

    const green = "rgb(19, 115, 51)";
    const red = "rgb(179, 38, 30)";
    const expected = [
      {name: "sim-usb-1.4", state: "pass", passed: 3, failed: 0, colour: green},
      {name: "sim-usb-1.5", state: "fail", passed: 0, failed: 1, colour: red},
      {name: "sim-usb-1.6", state: "unplugged", passed: 0, failed: 1},
      {name: "sim-usb-1.7", state: "pass", passed: 3, failed: 0, colour: green},
    ];
    const rows = reportRows(report);
    expected.forEach((want, i) => {
      const tile = tiles[i];
      equal([tile.name, tile.state, tile.passed, tile.failed],
        [want.name, want.state, want.passed, want.failed], `tile ${i}`);
      if (want.colour) equal(tile.colour, want.colour, `tile ${i}'s colour`);
      // The tile's counts are the station's rows.
      const own = rowsOf(rows, want.name);
      equal([own.filter((row) => row.status === 0).length,
        own.filter((row) => row.status !== 0).length], [tile.passed, tile.failed],
      `${want.name}'s rows (passed, failed)`);
    });
    check(tiles[1].detail.includes("ZigBee"), `the misfit's reason: ${tiles[1].detail}`);
    check(tiles[1].advice.includes("still in the socket") && tiles[1].retryShown,
      `the held board's advice and Retry: ${JSON.stringify(tiles[1])}`);
    check(rowsOf(rows, "sim-usb-1.6")[0].message.includes("unplugged"),
      "the unplugged unit's row says so");
    check(tiles[2].advice.includes("Plug the bridge back in"), `unplug advice: ${tiles[2].advice}`);
    equal(await page.textContent("#yield"), "75.0 %", "the session's yield");
    equal(await page.textContent("#file"), "Farsend_15_bt.hex", "the file's name");
    equal(await page.textContent("#sha"), rows[0].sha256.slice(0, 12), "the short digest");

    // Seen as the run went: each programmed socket showed its programming,
    // then PASS. (A state shorter than the page's refresh, as identifying
    // often is, may be drawn over before it is seen.)
    const seen = await page.evaluate(() => window.statesSeen);
    for (const index of [0, 3]) {
      const states = seen[index] || [];
      check(states.includes("programming") && states.at(-1) === "pass",
        `tile ${index} went through ${JSON.stringify(states)}`);
    }

    // A serial string that is markup is shown as text, and runs nothing.
    equal(tiles[3].bridge, `Bridge ${hostile}`, "the hostile bridge serial, shown");
    equal(await page.$$eval("#grid img", (nodes) => nodes.length), 0, "images in the grid");
    equal(dialogs, [], "dialogs opened by the page");

    // Retry on the held socket: the same misfit is tried again, and fails
    // again, as one more unit.
    await page.click(".tile[data-index='1'] .retry");
    await until("the retried socket's second failure", async () => {
      const [, misfit] = await readTiles(page);
      return misfit.failed === 2 && misfit.held ? misfit : null;
    });
    equal(rowsOf(reportRows(report), "sim-usb-1.5").length, 2,
      "rows of the retried socket");

    // Stop and continue a station.
    await page.click(".tile[data-index='0'] .stop");
    await until("station 1 stopped", async () => (await readTiles(page))[0].stopped);
    await page.click(".tile[data-index='0'] .stop");
    await until("station 1 going again", async () => !(await readTiles(page))[0].stopped);
  } finally {
    await page.close();
    await stopFarsend(run);
  }
}

// A non-loopback address of this machine, for a peer that is not local.
function outsideAddress() {
  for (const list of Object.values(os.networkInterfaces())) {
    for (const address of list || []) {
      if (address.family === "IPv4" && !address.internal) return address.address;
    }
  }
  throw new Error("this machine has no IPv4 address besides the loopback: the access test " +
    "needs one to come from a peer that is not local");
}

async function accessFromAnotherPeer(browser) {
  const dir = tempDir("access");
  const outside = outsideAddress();
  const run = await startFarsend(opts.farsend, [
    "--simulate", "line", sample, ...database(dir), "--listen", "0.0.0.0:0",
  ], dir);
  const base = `http://${outside}:${run.port}`;
  try {
    check(run.err.includes("every view and action needs the token"), "the wide listener's warning");
    const refusals = [];
    for (const action of ["retry", "stop", "continue"]) {
      for (const token of ["", "0".repeat(32)]) {
        const headers = token ? {Authorization: `Bearer ${token}`} : {};
        const response = await fetch(`${base}/api/stations/0/${action}`,
          {method: "POST", headers, body: ""});
        refusals.push(response.status);
      }
      const foreign = await fetch(`${base}/api/stations/0/${action}`, {
        method: "POST", headers: {Authorization: `Bearer ${run.token}`, Origin: "http://evil.example"},
        body: "",
      });
      refusals.push(foreign.status);
    }
    equal(refusals, [401, 401, 403, 401, 401, 403, 401, 401, 403], "actions without the token");
    equal((await fetch(`${base}/api/line`)).status, 401, "the line's state without the token");
    equal((await fetch(`${base}/api/events`)).status, 401, "the events without the token");
    equal((await fetch(`${base}/api/line`, {headers: {Authorization: `Bearer ${run.token}`}})).status,
      200, "the line's state with the token");

    // The page itself loads, finds the line refused and asks for the token.
    const page = await browser.newPage();
    try {
      await page.goto(`${base}/`);
      await page.waitForSelector("#token-form:not([hidden])");
      equal(await page.$$eval(".tile", (nodes) => nodes.length), 0, "tiles shown without token");
      await page.fill("#token-input", run.token);
      await page.click("#token-form button");
      await page.waitForSelector(".tile");
      await until("live with the token", async () =>
        (await page.getAttribute("#connection", "data-state")) === "live");
    } finally {
      await page.close();
    }
  } finally {
    await stopFarsend(run);
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function reconnectsAfterRestart(browser) {
  const dir = tempDir("restart");
  const tokenFile = path.join(dir, "token");
  fs.writeFileSync(tokenFile, "restart-test-token-0123456789\n");
  const port = await freePort();
  const args = ["--simulate", "--sim-bridges=2", "line", "--all", sample,
    ...database(dir), "--listen", `127.0.0.1:${port}`, "--token-file", tokenFile];
  let run = await startFarsend(opts.farsend, args, dir);
  const page = await browser.newPage();
  try {
    await page.goto(run.url);
    await until("live", async () => (await page.getAttribute("#connection", "data-state")) === "live");
    await stopFarsend(run);
    await until("the drop seen", async () =>
      (await page.getAttribute("#connection", "data-state")) === "lost");
    run = await startFarsend(opts.farsend, args, dir);
    await until("live again, with both tiles", async () =>
      (await page.getAttribute("#connection", "data-state")) === "live" &&
      (await page.$$eval(".tile", (nodes) => nodes.length)) === 2);
  } finally {
    await page.close();
    await stopFarsend(run);
  }
}

const browser = await launchBrowser().catch((error) => {
  console.log(`FAIL  the browser: ${error.message}`);
  process.exit(1);
});
try {
  await runCases([
    ["a simulated line of 4 bridges", () => simulatedLine(browser)],
    ["access from another peer", () => accessFromAnotherPeer(browser)],
    ["reconnection after a restart", () => reconnectsAfterRestart(browser)],
  ]);
} finally {
  await browser.close();
}
