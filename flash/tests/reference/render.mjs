// Renders the expected frames of regression cases with an outside renderer: Ruffle's web build
// (pinned in package.json) in Debian's headless Chromium, webgl renderer, with Playwright's fake
// clock so that frames come out the same from run to run.
//
//   node render.mjs CASE-DIR...
//
// Each CASE-DIR holds test.swf and case.ini ("frames = 1,5,9" under [case]); this writes
// expected-NNNN.png for each frame and reference.txt (renderer, version, trace lines seen).
// Frame n is the picture after n - 1 ticks of playback (the movie's frame n unless its scripts
// moved the main timeline).
import http from 'node:http';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.RUFFLE_MODULES || path.join(here, 'node_modules');
const ruffleDir = path.join(modules, '@ruffle-rs', 'ruffle');
const { chromium } = createRequire(path.join(modules, 'index.js'))('playwright-core');
const ruffleVersion = JSON.parse(fs.readFileSync(path.join(ruffleDir, 'package.json'), 'utf8')).version;

function readIni(file) {
  const out = {};
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const m = line.match(/^\s*([A-Za-z_]+)\s*=\s*(.*?)\s*$/);
    if (m) out[m[1]] = m[2];
  }
  return out;
}

function parseFrames(list) {
  const frames = [];
  for (const item of list.split(',')) {
    const [a, b] = item.split('-').map((s) => parseInt(s, 10));
    if (b) for (let f = a; f <= b; ++f) frames.push(f);
    else frames.push(a);
  }
  return frames.sort((x, y) => x - y);
}

// The stage size and frame rate from the SWF header (FWS or CWS).
async function swfHeader(file) {
  let bytes = fs.readFileSync(file);
  if (bytes[0] === 0x43) {
    const zlib = await import('node:zlib');
    bytes = Buffer.concat([bytes.subarray(0, 8), zlib.inflateSync(bytes.subarray(8))]);
  }
  let bit = 64;
  const bits = (n) => {
    let v = 0;
    for (let i = 0; i < n; ++i, ++bit) v = (v << 1) | ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1);
    return v;
  };
  const signed = (n) => {
    const v = bits(n);
    return v & (1 << (n - 1)) ? v - (1 << n) : v;
  };
  const nbits = bits(5);
  const xmin = signed(nbits), xmax = signed(nbits), ymin = signed(nbits), ymax = signed(nbits);
  const at = Math.ceil(bit / 8);
  const rate = bytes.readUInt16LE(at) / 256;
  return { width: Math.round((xmax - xmin) / 20), height: Math.round((ymax - ymin) / 20), rate };
}

// ---- The tick probe
// Ruffle's first frame does not come at a fixed point of the fake clock, so frames are found by
// count instead: the movie served to Ruffle carries one more sprite, placed in frame 1 at an
// unused depth, whose frame k traces "\u0001tick k" (k - 1 ticks after the start; sprites keep
// playing when the main timeline stops). The sprite draws nothing; the file on disk is unchanged.

function u16(v) {
  return Buffer.from([v & 0xff, (v >> 8) & 0xff]);
}

function tag(code, body) {
  if (body.length < 63) return Buffer.concat([u16((code << 6) | body.length), body]);
  const len = Buffer.alloc(4);
  len.writeUInt32LE(body.length);
  return Buffer.concat([u16((code << 6) | 0x3f), len, body]);
}

function probeSprite(id, frames) {
  const parts = [];
  for (let k = 1; k <= frames; ++k) {
    const text = Buffer.from(`\u0001tick ${k}\u0000`, 'utf8');
    const push = Buffer.concat([Buffer.from([0x96]), u16(text.length + 1), Buffer.from([0]), text]);
    parts.push(tag(12, Buffer.concat([push, Buffer.from([0x26, 0x00])])));
    parts.push(tag(1, Buffer.alloc(0)));
  }
  parts.push(Buffer.from([0, 0]));
  return tag(39, Buffer.concat([u16(id), u16(frames), ...parts]));
}

async function withProbe(file, frames) {
  let bytes = fs.readFileSync(file);
  const compressed = bytes[0] === 0x43;
  if (compressed) {
    const zlib = await import('node:zlib');
    bytes = Buffer.concat([bytes.subarray(0, 8), zlib.inflateSync(bytes.subarray(8))]);
  }
  const nbits = bytes[8] >> 3;
  let pos = 8 + Math.ceil((5 + 4 * nbits) / 8) + 4;
  const used = new Set();
  let firstShowFrame = -1;
  while (pos + 2 <= bytes.length) {
    const head = bytes.readUInt16LE(pos);
    const code = head >> 6;
    let len = head & 0x3f, body = pos + 2;
    if (len === 0x3f) {
      len = bytes.readUInt32LE(pos + 2);
      body += 4;
    }
    if (code === 0) break;
    if (code === 1 && firstShowFrame < 0) firstShowFrame = pos;
    if (![1, 4, 5, 9, 12, 26, 28, 43, 15, 18, 19, 45].includes(code) && len >= 2) used.add(bytes.readUInt16LE(body));
    pos = body + len;
  }
  if (firstShowFrame < 0) throw new Error(`${file}: no ShowFrame`);
  let id = 65500;
  while (used.has(id)) --id;
  const place = tag(26, Buffer.concat([Buffer.from([0x02]), u16(16000), u16(id)]));
  const out = Buffer.concat([bytes.subarray(0, firstShowFrame), probeSprite(id, frames), place, bytes.subarray(firstShowFrame)]);
  out.writeUInt32LE(out.length, 4);
  out[0] = 0x46;  // served uncompressed
  return out;
}

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.swf': 'application/x-shockwave-flash' };

const probed = new Map();  // "/case/<name>/test.swf" -> bytes with the probe

function serve(root) {
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(req.url.split('?')[0]);
    let file;
    if (probed.has(url)) {
      res.writeHead(200, { 'content-type': types['.swf'] });
      res.end(probed.get(url));
      return;
    }
    if (url === '/') {
      res.writeHead(200, { 'content-type': 'text/html' });
      res.end('<!doctype html><html><body style="margin:0;background:#808080"><div id="stage"></div>' +
              '<script src="/ruffle/ruffle.js"></script></body></html>');
      return;
    }
    if (url.startsWith('/ruffle/')) file = path.join(ruffleDir, url.slice(8));
    else if (url.startsWith('/case/')) file = path.join(root, url.slice(6));
    if (!file || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      res.writeHead(404);
      res.end();
      return;
    }
    res.writeHead(200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Now and then Ruffle runs frames while the movie loads, before the clock is in hand; the case
// is then rendered again on a fresh page.
class Retry extends Error {}

async function renderCaseOnce(browser, port, dir) {
  const ini = readIni(path.join(dir, 'case.ini'));
  const frames = parseFrames(ini.frames || '1');
  const { width, height, rate } = await swfHeader(path.join(dir, 'test.swf'));
  const name = path.basename(dir);
  probed.set(`/case/${name}/test.swf`, await withProbe(path.join(dir, 'test.swf'), frames[frames.length - 1] + 2));
  const page = await browser.newPage({ viewport: { width: Math.max(width, 64), height: Math.max(height, 64) }, deviceScaleFactor: 1 });
  try {
    // Time stands still from before the player exists; it moves only in the steps below.
    await page.clock.install({ time: 0 });
    await page.clock.pauseAt(1000);
    await page.goto(`http://127.0.0.1:${port}/`);
    await page.evaluate(async ({ name, width, height, rate }) => {
      window.traces = [];
      const player = window.RufflePlayer.newest().createPlayer();
      player.id = 'player';
      player.style.width = width + 'px';
      player.style.height = height + 'px';
      player.style.display = 'block';
      document.getElementById('stage').appendChild(player);
      await player.ruffle().load({
        url: `/case/${name}/test.swf`, base: `/case/${name}/`, autoplay: 'on', splashScreen: false,
        letterbox: 'off', preferredRenderer: 'webgl', quality: 'high', scale: 'exactfit',
        allowNetworking: 'all', unmuteOverlay: 'hidden', contextMenu: 'off',
        // The browser shows at most 60 frames a second: faster movies are slowed to that, so
        // that every tick can be seen (movies that read getTimer() then run differently).
        ...(rate > 60 ? { frameRate: 60 } : {}),
      });
      player.ruffle().traceObserver = (line) => window.traces.push(line);
    }, { name, width, height, rate });
    const ticks = () => page.evaluate(() => {
      let k = 0;
      for (const t of window.traces) if (t.startsWith('\u0001tick ')) k = parseInt(t.slice(6), 10);
      return k;
    });
    const written = [];
    // Fake time moves in 4 ms steps; frame f is taken as soon as the probe reports it.
    for (let now = 0, shown = await ticks(); written.length < frames.length && now < 120000; ) {
      const f = frames[written.length];
      if (shown > f) throw new Retry(`${name}: frame ${f} went by unseen (${rate} fps)`);
      if (shown === f) {
        const box = await page.locator('#player').boundingBox();
        const out = path.join(dir, `expected-${String(f).padStart(4, '0')}.png`);
        await page.screenshot({ path: out, clip: { x: box.x, y: box.y, width, height } });
        written.push(f);
        continue;
      }
      await page.clock.runFor(4);
      now += 4;
      shown = await ticks();
    }
    if (written.length < frames.length) throw new Error(`${name}: the movie stopped ticking`);
    const traces = (await page.evaluate(() => window.traces)).filter((t) => !t.startsWith('\u0001'));
    fs.writeFileSync(path.join(dir, 'reference.txt'),
      `renderer = ruffle web ${ruffleVersion}, webgl, quality high, headless chromium\n` +
      `frames = ${written.join(',')}\n` + traces.map((t) => `trace = ${t}`).join('\n') + '\n');
    console.log(`${name}: ${written.length} frames`);
  } finally {
    await page.close();
  }
}

async function renderCase(browser, port, dir) {
  for (let attempt = 1; ; ++attempt) {
    try {
      return await renderCaseOnce(browser, port, dir);
    } catch (e) {
      if (!(e instanceof Retry) || attempt === 5) throw e;
      console.log(`${e.message}; again`);
    }
  }
}

const dirs = process.argv.slice(2);
if (!dirs.length) {
  console.error('usage: node render.mjs CASE-DIR...');
  process.exit(2);
}
const root = path.dirname(path.resolve(dirs[0]));
const server = await serve(root);
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--enable-unsafe-swiftshader', '--use-gl=angle', '--use-angle=swiftshader'],
});
try {
  for (const d of dirs) await renderCase(browser, server.address().port, path.resolve(d));
} finally {
  await browser.close();
  server.close();
}
