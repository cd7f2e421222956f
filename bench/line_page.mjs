// The line page's cost and speed: 32 simulated stations on the real clock,
// run by `farsend watch --all` and by `farsend line --all` with the page open
// in chromium, both at once, so that what else the machine runs weighs on
// both alike. Prints the CPU each process used over the same window, and
// the latency of the page's changes (from the station's time stamp to the
// page's drawing, measured in the page).
//
// node bench/line_page.mjs --farsend FARSEND --samples-tool FARSEND_SAMPLES
//     [--seconds N] [--stations N]
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {spawn, spawnSync} from "node:child_process";

import {launchBrowser, sleep, startFarsend, stopFarsend} from "../tests/line/browser/harness.mjs";

const args = process.argv.slice(2);
const arg = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args[at + 1] : fallback;
};
const farsend = arg("--farsend");
const seconds = Number(arg("--seconds", "20"));
const stations = Number(arg("--stations", "32"));
const settle = 3;  // seconds after the start before measuring

const samples = fs.mkdtempSync(path.join(os.tmpdir(), "farsend-bench-samples-"));
spawnSync(arg("--samples-tool"), [samples]);
const sample = path.join(samples, "Farsend_15_bt.hex");
const ticksPerSecond = Number(spawnSync("getconf", ["CLK_TCK"], {encoding: "utf8"}).stdout) || 100;

function cpuTicks(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return Number(fields[11]) + Number(fields[12]);  // utime, stime
}

// The line's options, the same for both: every bridge programs unit after
// unit at 115200 baud for the whole window.
function lineOptions(dir) {
  return ["--simulate", "--sim-real-time", "--sim-baud=115200", `--sim-bridges=${stations}`,
    "--sim-targets=1000", "--quiet"];
}
function runOptions(dir) {
  return ["--all", sample, "--db", path.join(dir, "units.sqlite")];
}

// Each run in a folder of its own: a database and simulated bridges apart.
function startWatch() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "farsend-bench-watch-"));
  return spawn(farsend, [...lineOptions(dir), "watch", ...runOptions(dir)],
    {cwd: dir, stdio: ["ignore", "ignore", "ignore"]});
}

async function stopWatch(child) {
  if (child.exitCode !== null) return;
  const ended = new Promise((resolve) => child.on("exit", resolve));
  child.kill("SIGINT");
  await sleep(200);
  child.kill("SIGINT");
  await ended;
}

// CPU per cent of each process over the same window, after the settling.
async function measureBoth(watchPid, linePid, page) {
  await sleep(settle * 1000);
  await page.evaluate(() => { window.farsendLatencies.length = 0; });
  const watchBefore = cpuTicks(watchPid);
  const lineBefore = cpuTicks(linePid);
  const started = Date.now();
  await sleep(seconds * 1000);
  const watchUsed = (cpuTicks(watchPid) - watchBefore) / ticksPerSecond;
  const lineUsed = (cpuTicks(linePid) - lineBefore) / ticksPerSecond;
  const wall = (Date.now() - started) / 1000;
  return {watch: (100 * watchUsed) / wall, line: (100 * lineUsed) / wall};
}

async function runBoth(browser) {
  const watch = startWatch();
  let run = null;
  let page = null;
  try {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), "farsend-bench-line-"));
    run = await startFarsend(farsend,
      [...lineOptions(dir), "line", ...runOptions(dir), "--listen", "127.0.0.1:0"], dir);
    page = await browser.newPage();
    await page.goto(run.url);
    const cpu = await measureBoth(watch.pid, run.child.pid, page);
    const latencies = await page.evaluate(() => window.farsendLatencies.slice());
    return {cpu, latencies};
  } finally {
    if (page) await page.close();
    if (run) await stopFarsend(run, true);
    await stopWatch(watch);
  }
}

function percentile(sorted, share) {
  return sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
}

const loadBefore = os.loadavg()[0];
const browser = await launchBrowser();
let both;
try {
  both = await runBoth(browser);
} finally {
  await browser.close();
}
const watchCpu = both.cpu.watch;
const line = {cpu: both.cpu.line};
const sorted = both.latencies.sort((a, b) => a - b);
console.log(`stations ${stations}, window ${seconds} s, both at once, ` +
  `load ${loadBefore.toFixed(1)} before, ${os.loadavg()[0].toFixed(1)} after`);
console.log(`watch --all CPU       ${watchCpu.toFixed(1)} %`);
console.log(`line --all CPU        ${line.cpu.toFixed(1)} % (page open)`);
console.log(`difference            ${(line.cpu - watchCpu).toFixed(1)} percentage points`);
console.log(`changes drawn         ${sorted.length}`);
if (sorted.length > 0) {
  console.log(`latency median        ${percentile(sorted, 0.5)} ms`);
  console.log(`latency 99th pct      ${percentile(sorted, 0.99)} ms`);
  console.log(`latency max           ${sorted[sorted.length - 1]} ms`);
}
// Rows of scripts/bench.sh's table.
const cpuRow = `${line.cpu.toFixed(1)} % against ${watchCpu.toFixed(1)} %`;
console.log(`ROW|line page, ${stations} stations: CPU of line --all (page open) against ` +
  `watch --all|${cpuRow}|at most 2 points above|`);
if (sorted.length > 0) {
  console.log(`ROW|line page: a station's change to the screen, median and max|` +
    `${percentile(sorted, 0.5)} ms, ${sorted[sorted.length - 1]} ms|under 100 ms, at most 250 ms|`);
}
