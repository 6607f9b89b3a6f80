// The phone scanner's page in a real browser: Debian's Chromium, headless, at phone
// size, against `tallimo-cli serve` on this machine's loopback address (a secure
// context, so the live camera runs; Chromium's fake camera plays barcodes).
//
//   node page_test.mjs TALLIMO_CLI MAKE_BARCODE_VIDEO SCREENSHOT_DIR
//
// Exits 0 when every check held; prints each failed check and exits 1 otherwise.
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync, existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import readline from 'node:readline';

const require = createRequire(new URL('./node/package.json', import.meta.url));
const { chromium } = require('playwright-core');

const [cli, makeVideo, shots] = process.argv.slice(2);
const failures = [];
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures.push(what);
}

const dir = mkdtempSync(join(tmpdir(), 'tallimo-phone-page-'));
mkdirSync(shots, { recursive: true });
execFileSync(cli, ['demo', dir], { stdio: 'ignore' });
rmSync(join(dir, 'POS_Scanner.MDB'));  // an empty scan list: only what the phone sends
const cameraCode = '4006381333931';
const video = join(dir, 'barcodes.y4m');
execFileSync(makeVideo, [video, 'EAN13', cameraCode]);
const photoCode = 'SHELF-0042';
const photo = join(dir, 'label.png');
execFileSync(makeVideo, [photo, 'Code128', photoCode]);

const env = { ...process.env, XDG_CONFIG_HOME: join(dir, 'config') };
const server = spawn(cli, ['serve', '--home', dir, '--products', join(dir, 'products.mdb'), '--listen', 'loopback',
                           '--port', '0'], { env, stdio: ['ignore', 'pipe', 'inherit'] });
const lines = readline.createInterface({ input: server.stdout });
let url = null;
let code = null;
const log = [];
const ready = new Promise((resolve) => {
  lines.on('line', (line) => {
    log.push(line);
    let m;
    if ((m = /^listening (\S+)/.exec(line))) url = m[1];
    if ((m = /^pairing code (\d{6})/.exec(line))) code = m[1];
    if (url && code) resolve();
  });
});
await Promise.race([ready, new Promise((_, reject) => setTimeout(() => reject(new Error('serve did not start')), 20000))]);

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--use-fake-device-for-media-stream',
         '--use-fake-ui-for-media-stream', `--use-file-for-fake-video-capture=${video}`],
});
const context = await browser.newContext({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2,
                                           isMobile: true, hasTouch: true,
                                           // Playwright's waiting evaluates text in the page; the page's own
                                           // policy forbids that (the server test checks the policy).
                                           bypassCSP: true });
await context.grantPermissions(['camera'], { origin: url.replace(/\/$/, '') });
const page = await context.newPage();
page.on('pageerror', (e) => check(false, 'no script error on the page: ' + e.message));

async function scanTyped(item, qty) {
  await page.fill('#item', item);
  await page.fill('#qty', String(qty));
  await page.click('#add');
}
async function allSaved(what) {
  try {
    await page.waitForFunction(() => document.getElementById('pending').textContent === 'all saved', null,
                               { timeout: 15000 });
    check(true, what);
  } catch (e) {
    check(false, what + ' (still: ' + await page.textContent('#pending') + ')');
  }
}
async function shot(name) { await page.screenshot({ path: join(shots, name + '.png') }); }

try {
  // Pairing: a wrong code first, then the QR code's address (which carries the code).
  await page.goto(url);
  await shot('1-pairing');
  await page.fill('#code', '000000' === code ? '111111' : '000000');
  await page.click('#pair');
  await page.waitForFunction(() => document.getElementById('pair-message').textContent !== '');
  check((await page.textContent('#pair-message')).includes('wrong'), 'a wrong code is refused');
  await page.goto(url + '#' + code);
  await page.waitForSelector('#scanning:not([hidden])', { timeout: 10000 });
  const labels = await page.$$eval('#kind option', (o) => o.map((x) => x.textContent));
  check(JSON.stringify(labels) === JSON.stringify(['Add to Inventory', 'Subtract Inventory', 'Compare Inventory',
                                                  'Replace Inventory', 'Add New Item', 'Edit Products']),
        'the six kinds by their labels: ' + labels.join(', '));

  // Typed scans, the product shown, kinds switched.
  await page.selectOption('#kind', { label: 'Add to Inventory' });
  await scanTyped('P000001', 2);
  await page.waitForFunction(() => document.getElementById('product').textContent.includes('stock'));
  check((await page.textContent('#product')).includes('P000001') ||
        (await page.textContent('#product')).includes('Recorded stock'), 'the product and its stock are shown');
  await scanTyped('P000001', 3);
  await page.selectOption('#kind', { label: 'Compare Inventory' });
  await scanTyped('P000002', 4);
  await allSaved('typed scans acknowledged');
  await shot('2-scanning');

  // Undo the last scan (P000002 in Compare).
  await page.click('#undo');
  await allSaved('the undo acknowledged');
  check(await page.$eval('#scans li', (li) => li.className) === 'undone', 'the undone scan is struck through');

  // Offline: the scan waits in the phone, and goes once the network is back.
  await page.selectOption('#kind', { label: 'Add to Inventory' });
  await context.setOffline(true);
  await scanTyped('P000003', 1);
  await page.waitForFunction(() => document.getElementById('pending').textContent.startsWith('1 waiting'));
  check(true, 'offline, the scan waits on the phone');
  await shot('3-offline');
  await page.reload().catch(() => {});  // the page is gone while offline; its storage stays
  await context.setOffline(false);
  await page.goto(url);
  await allSaved('after reconnecting the kept scan is sent');

  // An answer lost on the way back: the server has saved the scan, the phone sends it again.
  let lost = 0;
  await page.route('**/api/scan', async (route) => {
    if (lost++ === 0) {
      await route.fetch();  // reaches the server, which commits it
      await route.abort('connectionreset');
    } else {
      await route.continue();
    }
  });
  await scanTyped('P000004', 1);
  await allSaved('the scan whose answer was lost is resent');
  await page.unroute('**/api/scan');
  check(log.some((l) => / P000004 1 -> 1 resent$/.test(l)), 'the server saw the resend as one already applied');

  // A new item with its description.
  await page.selectOption('#kind', { label: 'Add New Item' });
  check(await page.isVisible('#description'), 'a new item asks for its description');
  await page.fill('#description', 'Blue mug, 300 ml');
  await scanTyped('NEW-1', 6);
  await allSaved('the new item acknowledged');
  await page.selectOption('#kind', { label: 'Add to Inventory' });
  check(!(await page.isVisible('#description')), 'other kinds do not ask for a description');

  // A photo of a shelf label, as the phone's camera app hands it to the page.
  await page.selectOption('#kind', { label: 'Subtract Inventory' });
  await page.fill('#qty', '2');
  await page.setInputFiles('#photo', photo);
  try {
    await page.waitForFunction((c) => document.getElementById('scans').textContent.includes(c), photoCode,
                               { timeout: 15000 });
    check(true, 'the photo\'s barcode was read');
  } catch (e) {
    check(false, 'the photo\'s barcode was read (message: ' + await page.textContent('#message') + ')');
  }
  await allSaved('the photo scan acknowledged');
  await shot('4-photo');

  // The fake camera shows a printed barcode; the frame is read on the server.
  await page.selectOption('#kind', { label: 'Replace Inventory' });
  await page.fill('#qty', '7');
  await page.click('#camera');
  try {
    await page.waitForFunction((c) => document.getElementById('scans').textContent.includes(c), cameraCode,
                               { timeout: 30000 });
    check(true, 'the camera read the barcode');
  } catch (e) {
    check(false, 'the camera read the barcode (message: ' + await page.textContent('#message') + ')');
  }
  await shot('5-camera');
  await page.click('#camera');
  await allSaved('the camera scan acknowledged');
} catch (e) {
  check(false, 'the page test ran through: ' + e.message);
}
await browser.close();

server.kill('SIGTERM');
await new Promise((resolve) => server.on('exit', resolve));
const rows = execFileSync('mdb-export', ['-d', '|', join(dir, 'POS_Scanner.MDB'), 'Scanner_Data']).toString().trim().split('\n');
const header = rows.shift().split('|');
const got = rows.map((r) => {
  const cells = r.split('|');
  const at = (n) => cells[header.indexOf(n)].replace(/"/g, '');
  const kind = at('File_Type');
  return `${kind} ${at('Item_Number')} ${Number(at('Qty'))}` + (kind === '4' ? ' ' + at('Description') : '');
}).sort();
const want = ['0 P000001 5', '0 P000003 1', '0 P000004 1', `1 ${photoCode} 2`, `3 ${cameraCode} 7`,
              '4 NEW-1 6 Blue mug, 300 ml'];
check(JSON.stringify(got) === JSON.stringify(want), 'Scanner_Data holds ' + JSON.stringify(got) + ', wanted ' +
      JSON.stringify(want));
if (failures.length === 0) rmSync(dir, { recursive: true, force: true });
else console.log('kept ' + dir);
process.exit(failures.length ? 1 : 0);
