// Tallimo's phone scanner page. Every scan is kept in this phone's storage until
// the server acknowledges it (it does so only after saving it), and is sent with an
// id of its own, so a scan resent after a lost answer is never counted twice.
'use strict';

const KEY = 'tallimo.';
const store = {
  get(name, fallback) {
    try { const v = localStorage.getItem(KEY + name); return v === null ? fallback : JSON.parse(v); }
    catch (e) { return fallback; }
  },
  set(name, value) { localStorage.setItem(KEY + name, JSON.stringify(value)); },
  drop(name) { localStorage.removeItem(KEY + name); },
};

const $ = (id) => document.getElementById(id);

function randomId() {
  const bytes = new Uint8Array(12);
  crypto.getRandomValues(bytes);
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

let phone = store.get('phone', null);
if (!phone) { phone = randomId(); store.set('phone', phone); }

// The queue of operations not yet acknowledged, oldest first.
let queue = store.get('queue', []);
// What this phone scanned, newest first: {id, item, kind, qty, state}.
let history = store.get('history', []);
let sending = false;
let retryTimer = null;

function nextId() {
  const seq = store.get('seq', 0) + 1;
  store.set('seq', seq);
  return phone + ':' + seq;
}

function kinds() { return store.get('kinds', []); }
// A new item is entered with its description; the other kinds take it from the product list.
const ADD_NEW_ITEM = 4;
function kindChanged() {
  $('description-row').hidden = Number($('kind').value) !== ADD_NEW_ITEM;
}

function showMessage(text, isError) {
  const m = $('message');
  m.textContent = text;
  m.className = 'message' + (isError ? ' error' : '');
}

function setOnline(online) {
  const n = $('net');
  n.textContent = online ? 'online' : 'offline';
  n.className = 'net' + (online ? '' : ' offline');
}

function render() {
  const waiting = queue.length;
  $('pending').textContent = waiting ? waiting + ' waiting to be sent' : 'all saved';
  const list = $('scans');
  list.textContent = '';
  for (const h of history.slice(0, 30)) {
    const li = document.createElement('li');
    li.className = h.state;
    const left = document.createElement('span');
    left.textContent = h.item;
    const what = document.createElement('div');
    what.className = 'what';
    what.textContent = (kinds()[h.kind] || ('kind ' + h.kind)) + (h.note ? ' — ' + h.note : '');
    left.appendChild(what);
    const right = document.createElement('span');
    right.textContent = h.qty;
    li.appendChild(left);
    li.appendChild(right);
    list.appendChild(li);
  }
  $('undo').disabled = !history.some((h) => h.state !== 'undone' && h.state !== 'rejected');
}

function save() {
  store.set('queue', queue);
  store.set('history', history.slice(0, 200));
  render();
}

function authHeaders() { return { 'Authorization': 'Bearer ' + store.get('token', ''), 'Content-Type': 'application/json' }; }

function showPairing(text) {
  $('scanning').hidden = true;
  $('pairing').hidden = false;
  $('pair-message').textContent = text || '';
}

function showScanning() {
  $('pairing').hidden = true;
  $('scanning').hidden = false;
  const select = $('kind');
  if (!select.options.length) {
    kinds().forEach((label, i) => select.add(new Option(label, String(i))));
    select.value = String(store.get('kind', 0));
  }
  kindChanged();
  render();
  flush();
}

async function pair(code) {
  try {
    const r = await fetch('/api/pair', { method: 'POST', headers: { 'Content-Type': 'application/json' },
                                         body: JSON.stringify({ code, phone }) });
    const body = await r.json();
    if (!r.ok) { $('pair-message').textContent = body.error || ('refused (' + r.status + ')'); return; }
    store.set('token', body.token);
    store.set('kinds', body.kinds);
    history.length = 0;
    save();
    showScanning();
  } catch (e) {
    $('pair-message').textContent = 'Tallimo cannot be reached: ' + e.message;
  }
}

function mark(id, state, note) {
  const h = history.find((x) => x.id === id);
  if (h) { h.state = state; if (note) h.note = note; }
}

// Sends the queue in order, one operation at a time; stops at the first that
// cannot be delivered and tries again a little later.
async function flush() {
  if (sending || !queue.length) { render(); return; }
  sending = true;
  clearTimeout(retryTimer);
  try {
    while (queue.length) {
      const op = queue[0];
      let r;
      try {
        r = await fetch(op.url, { method: 'POST', headers: authHeaders(), body: JSON.stringify(op.body) });
      } catch (e) {
        setOnline(false);
        retryTimer = setTimeout(flush, 2000);
        return;
      }
      setOnline(true);
      if (r.status === 401) { showPairing('The pairing has expired; pair again. Your scans are kept.'); return; }
      if (r.status >= 500 || r.status === 429) { retryTimer = setTimeout(flush, 2000); return; }
      let body = {};
      try { body = await r.json(); } catch (e) { /* an empty answer */ }
      queue.shift();
      if (r.ok) {
        if (op.kind === 'undo') { mark(op.body.scan, 'undone'); }
        else { mark(op.body.id, 'saved', 'total ' + body.row_qty); }
      } else {
        if (op.kind === 'undo') { showMessage('Undo refused: ' + (body.error || r.status), true); }
        else { mark(op.body.id, 'rejected', body.error || String(r.status)); showMessage(body.error || 'refused', true); }
      }
      save();
    }
  } finally {
    sending = false;
  }
}

function addScan(item, qtyText) {
  item = item.trim();
  const qty = Number(qtyText);
  if (!item) { showMessage('Type or scan an item number.', true); return; }
  if (!Number.isFinite(qty) || qty < 0 || qty > 99999) { showMessage('The quantity must be 0 to 99999.', true); return; }
  const kind = Number($('kind').value);
  const id = nextId();
  const body = { id, item, kind, qty };
  const description = $('description').value.trim();
  if (kind === ADD_NEW_ITEM && description) body.description = description;
  queue.push({ kind: 'scan', url: '/api/scan', body });
  history.unshift({ id, item, kind, qty, state: 'pending' });
  save();
  showMessage('Scanned ' + item + ' × ' + qty);
  lookUp(item);
  flush();
}

async function lookUp(item) {
  const box = $('product');
  box.textContent = '';
  try {
    const r = await fetch('/api/product?item=' + encodeURIComponent(item), { headers: authHeaders() });
    if (!r.ok) return;
    const p = await r.json();
    const name = document.createElement('div');
    const stock = document.createElement('div');
    stock.className = 'stock';
    if (p.found) {
      name.textContent = p.description || '(no description)';
      stock.textContent = 'Recorded stock: ' + (p.stock === null || p.stock === undefined ? '—' : p.stock);
    } else {
      name.textContent = item + ': not in the product list';
    }
    box.appendChild(name);
    box.appendChild(stock);
  } catch (e) { /* offline: the scan is queued all the same */ }
}

function undoLast() {
  const last = history.find((h) => h.state !== 'undone' && h.state !== 'rejected' && h.state !== 'undoing');
  if (!last) return;
  last.state = 'undoing';
  queue.push({ kind: 'undo', url: '/api/undo', body: { id: nextId(), scan: last.id } });
  save();
  showMessage('Taking back ' + last.item + ' × ' + last.qty);
  flush();
}

// ---- reading barcodes ----
async function decodeOnServer(blob) {
  const r = await fetch('/api/decode', { method: 'POST', headers: { 'Authorization': authHeaders().Authorization,
                                                                    'Content-Type': blob.type || 'image/jpeg' },
                                         body: blob });
  const body = await r.json().catch(() => ({}));
  return r.ok ? body.text : null;
}

let scanning = null;
let lastCode = '', lastCodeAt = 0;

function found(code) {
  const now = Date.now();
  if (code === lastCode && now - lastCodeAt < 2500) return;
  lastCode = code; lastCodeAt = now;
  $('item').value = code;
  addScan(code, $('qty').value);
}

async function startCamera() {
  if (scanning) { stopCamera(); return; }
  if (!window.isSecureContext || !navigator.mediaDevices) {
    showMessage('Live camera needs a secure page here; use "Take a photo".', true);
    return;
  }
  const video = $('video');
  let stream;
  try {
    stream = await navigator.mediaDevices.getUserMedia({ video: { facingMode: 'environment' }, audio: false });
  } catch (e) { showMessage('The camera is not available: ' + e.message, true); return; }
  video.srcObject = stream;
  video.hidden = false;
  await video.play();
  $('camera').textContent = 'Stop camera';
  const detector = ('BarcodeDetector' in window) ? new window.BarcodeDetector() : null;
  const canvas = document.createElement('canvas');
  scanning = { stream, busy: false };
  scanning.timer = setInterval(async () => {
    if (!scanning || scanning.busy || !video.videoWidth) return;
    scanning.busy = true;
    try {
      if (detector) {
        const codes = await detector.detect(video);
        if (codes.length) found(codes[0].rawValue);
      } else {
        canvas.width = video.videoWidth; canvas.height = video.videoHeight;
        canvas.getContext('2d').drawImage(video, 0, 0);
        const blob = await new Promise((res) => canvas.toBlob(res, 'image/jpeg', 0.85));
        const text = blob && await decodeOnServer(blob);
        if (text) found(text);
      }
    } catch (e) { /* the next frame tries again */ }
    if (scanning) scanning.busy = false;
  }, 400);
}

function stopCamera() {
  if (!scanning) return;
  clearInterval(scanning.timer);
  scanning.stream.getTracks().forEach((t) => t.stop());
  scanning = null;
  $('video').hidden = true;
  $('camera').textContent = 'Scan with camera';
}

async function photoTaken(event) {
  const file = event.target.files[0];
  event.target.value = '';
  if (!file) return;
  showMessage('Reading the photo…');
  try {
    const text = await decodeOnServer(file);
    if (text) found(text); else showMessage('No barcode found in the photo; try again closer.', true);
  } catch (e) { showMessage('Tallimo cannot be reached; type the code instead.', true); }
}

// ---- wiring ----
$('pair-form').addEventListener('submit', (e) => { e.preventDefault(); pair($('code').value.trim()); });
$('scan-form').addEventListener('submit', (e) => {
  e.preventDefault();
  addScan($('item').value, $('qty').value);
  $('item').value = '';
  $('description').value = '';
  $('item').focus();
});
$('kind').addEventListener('change', () => { store.set('kind', Number($('kind').value)); kindChanged(); });
$('minus').addEventListener('click', () => { $('qty').value = Math.max(0, Number($('qty').value || 0) - 1); });
$('plus').addEventListener('click', () => { $('qty').value = Math.min(99999, Number($('qty').value || 0) + 1); });
$('undo').addEventListener('click', undoLast);
$('camera').addEventListener('click', startCamera);
$('photo').addEventListener('change', photoTaken);
$('unpair').addEventListener('click', () => { store.drop('token'); showPairing(''); });
window.addEventListener('online', flush);

// The QR code's address carries the pairing code after '#': it pairs at once.
function codeFromAddress() {
  const code = location.hash.replace('#', '');
  if (!/^[0-9]{6}$/.test(code)) return '';
  $('code').value = code;
  window.history.replaceState(null, '', '/');
  return code;
}
window.addEventListener('hashchange', () => { const code = codeFromAddress(); if (code) pair(code); });
const addressCode = codeFromAddress();
if (addressCode) pair(addressCode);
else if (store.get('token', null) && kinds().length) showScanning();
else showPairing('');
setOnline(navigator.onLine);
