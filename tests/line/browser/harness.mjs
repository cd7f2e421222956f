// What the line page's browser tests share: the built farsend run as a
// child with its page's address read from its messages, Debian's chromium
// driven by playwright-core, and checks that fail with what was seen.
import {spawn, spawnSync} from "node:child_process";
import {createRequire} from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const here = path.dirname(new URL(import.meta.url).pathname);
// What runs the programs (wine64, for the Windows build); none: themselves.
let runner = "";

export function command(program, args) {
  return runner ? [runner, [program, ...args]] : [program, args];
}
const require = createRequire(import.meta.url);

export function options() {
  const args = process.argv.slice(2);
  const value = (name) => {
    const at = args.indexOf(name);
    if (at < 0 || at + 1 >= args.length) throw new Error(`missing ${name} PATH`);
    return args[at + 1];
  };
  const at = args.indexOf("--runner");
  if (at >= 0) runner = args[at + 1];
  // The sample firmware, written afresh by farsend-samples.
  const samples = fs.mkdtempSync(path.join(os.tmpdir(), "farsend-line-samples-"));
  const made = spawnSync(...command(value("--samples-tool"), [samples]), {encoding: "utf8"});
  if (made.status !== 0) throw new Error(`farsend-samples failed: ${made.stderr}`);
  return {farsend: value("--farsend"), samples, artifacts: value("--artifacts"), runner};
}

export function loadPlaywright() {
  const root = path.resolve(here, "../../..");
  try {
    return require(path.join(root, "node_modules", "playwright-core"));
  } catch (error) {
    throw new Error("playwright-core is not installed in " + root +
      "/node_modules: run scripts/install-deps.sh (it runs npm ci). " + error.message);
  }
}

export async function launchBrowser() {
  const {chromium} = loadPlaywright();
  const executable = process.env.FARSEND_CHROMIUM || "/usr/bin/chromium";
  if (!fs.existsSync(executable)) {
    throw new Error(`no browser at ${executable}: install Debian's chromium ` +
      "(scripts/install-deps.sh), or name one in FARSEND_CHROMIUM");
  }
  try {
    return await chromium.launch({
      executablePath: executable,
      headless: true,
      args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
    });
  } catch (error) {
    throw new Error(`${executable} cannot be started headless: ${error.message}`);
  }
}

export function tempDir(tag) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `farsend-line-${tag}-`));
}

// farsend with `args`, until its page's address is printed.
export async function startFarsend(farsend, args, cwd) {
  const child = spawn(...command(farsend, args), {cwd, stdio: ["ignore", "pipe", "pipe"]});
  const run = {child, out: "", err: "", exited: null};
  child.stdout.on("data", (data) => { run.out += data; });
  child.stderr.on("data", (data) => { run.err += data; });
  run.done = new Promise((resolve) => child.on("exit", (code, signal) => {
    run.exited = {code, signal};
    resolve(run.exited);
  }));
  const started = Date.now();
  while (!/the (?:line page|dashboard) is at (http:\/\/\S+\/)/.test(run.err)) {
    if (run.exited) throw new Error(`farsend ended before serving the page: ${run.err}`);
    if (Date.now() - started > 60000) throw new Error(`farsend printed no address: ${run.err}`);
    await sleep(20);
  }
  const shown =
    /the (?:line page|dashboard) is at (http:\/\/\S+?\/)(#token=([0-9a-f]+))?\s/.exec(run.err);
  run.url = shown[1];
  run.token = shown[3] || "";
  run.port = Number(new URL(run.url).port);
  return run;
}

// Ends farsend as an operator does (Ctrl+C) and waits for it; `now`: a
// second Ctrl+C, so that the boards in hand stop before their next block.
export async function stopFarsend(run, now = false) {
  if (!run.exited) run.child.kill("SIGINT");
  if (now) {
    await sleep(200);
    if (!run.exited) run.child.kill("SIGINT");
  }
  const ended = await Promise.race([run.done, sleep(15000).then(() => null)]);
  if (!ended) {
    run.child.kill("SIGKILL");
    throw new Error("farsend did not end on SIGINT");
  }
  return ended;
}

export function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Polls `probe` until it returns a truthy value; fails with `what` and the
// last value seen. Waits on events the run makes, never on a time-out the
// run has: the limit only keeps a broken run from hanging the suite.
export async function until(what, probe, limitMs = 20000) {
  const started = Date.now();
  let last;
  for (;;) {
    last = await probe();
    if (last) return last;
    if (Date.now() - started > limitMs) {
      throw new Error(`${what}: not reached; last seen: ${JSON.stringify(last)}`);
    }
    await sleep(25);
  }
}

export function check(condition, message) {
  if (!condition) throw new Error(message);
}

export function equal(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a !== e) throw new Error(`${what}: expected ${e}, got ${a}`);
}

// The units farsend recorded in its --report file, one JSON object a line.
export function reportRows(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, "utf8").split("\n").filter((line) => line).map((line) => JSON.parse(line));
}

// Every case in turn; the process fails when one does.
export async function runCases(cases) {
  let failed = 0;
  for (const [name, body] of cases) {
    const started = Date.now();
    try {
      await body();
      console.log(`ok    ${name} (${Date.now() - started} ms)`);
    } catch (error) {
      failed += 1;
      console.log(`FAIL  ${name}: ${error.stack || error}`);
    }
  }
  console.log(`${cases.length - failed} of ${cases.length} passed`);
  process.exitCode = failed === 0 ? 0 : 1;
}
