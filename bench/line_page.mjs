// The line page's cost and speed: 32 simulated stations on the real clock,
// run by `farsend watch --all` and by `farsend line --all` with the page open
// in chromium. Prints the CPU each process used over the same window, and
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

async function measure(pid) {
  await sleep(settle * 1000);
  const before = cpuTicks(pid);
  const started = Date.now();
  await sleep(seconds * 1000);
  const used = (cpuTicks(pid) - before) / ticksPerSecond;
  return (100 * used) / ((Date.now() - started) / 1000);
}

async function watchRun() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "farsend-bench-watch-"));
  const child = spawn(farsend, [...lineOptions(dir), "watch", ...runOptions(dir)],
    {cwd: dir, stdio: ["ignore", "ignore", "ignore"]});
  try {
    return await measure(child.pid);
  } finally {
    const ended = new Promise((resolve) => child.on("exit", resolve));
    child.kill("SIGINT");
    await sleep(200);
    child.kill("SIGINT");
    await ended;
  }
}

async function lineRun(browser) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "farsend-bench-line-"));
  const run = await startFarsend(farsend,
    [...lineOptions(dir), "line", ...runOptions(dir), "--listen", "127.0.0.1:0"], dir);
  const page = await browser.newPage();
  try {
    await page.goto(run.url);
    const cpu = await (async () => {
      await sleep(settle * 1000);
      await page.evaluate(() => { window.farsendLatencies.length = 0; });
      const before = cpuTicks(run.child.pid);
      const started = Date.now();
      await sleep(seconds * 1000);
      const used = (cpuTicks(run.child.pid) - before) / ticksPerSecond;
      return (100 * used) / ((Date.now() - started) / 1000);
    })();
    const latencies = await page.evaluate(() => window.farsendLatencies.slice());
    return {cpu, latencies};
  } finally {
    await page.close();
    await stopFarsend(run, true);
  }
}

function percentile(sorted, share) {
  return sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
}

const watchCpu = await watchRun();
const browser = await launchBrowser();
let line;
try {
  line = await lineRun(browser);
} finally {
  await browser.close();
}
const sorted = line.latencies.sort((a, b) => a - b);
console.log(`stations ${stations}, window ${seconds} s, load ${os.loadavg()[0].toFixed(1)}`);
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
