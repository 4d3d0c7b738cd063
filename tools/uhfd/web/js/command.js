// A form for any catalogue command: arguments checked here as the gateway checks them (integers
// in the catalogue's range, blocks as hex of the right size), then run on the reader between
// rounds. Commands beyond the reading ones go out with the token.
import { $, el, clear, setText } from './dom.js';
import { call, get, readerPath } from './api.js';

let catalogue = [];
let reader = '';

export function setCommandReader(name) {
  reader = name;
}

function chosen() {
  return catalogue.find((c) => c.name === $('command-name').value);
}

function showArgs() {
  const c = chosen();
  const box = $('command-args');
  clear(box);
  if (!c) return;
  setText($('command-summary'), c.summary + (c.allowed ? '' : ' — not allowed on this gateway') + (c.needs_token ? ' (needs the token)' : ''));
  c.args.forEach((a, i) => {
    const input = a.kind === 'block'
      ? el('input', { type: 'text', id: 'arg-' + i, placeholder: a.size ? a.size + ' bytes in hex' : 'hex, at least ' + a.header + ' bytes', spellcheck: 'false' })
      : el('input', { type: 'number', id: 'arg-' + i, min: a.min, max: a.max, step: 1, placeholder: a.min + '..' + a.max });
    box.append(el('label', {}, a.name + ' (' + a.kind + ')', input, el('span', { class: 'error', id: 'arg-error-' + i })));
  });
  $('command-run').disabled = !c.allowed;
}

// The arguments as the API takes them, or null with the problems shown beside the fields.
function readArgs(c) {
  const args = [];
  let ok = true;
  c.args.forEach((a, i) => {
    const raw = $('arg-' + i).value.trim();
    let why = '';
    if (a.kind === 'block') {
      if (!/^([0-9A-Fa-f]{2})*$/.test(raw)) why = 'hex digits, two per byte';
      else if (a.size && raw.length !== a.size * 2) why = 'exactly ' + a.size + ' bytes';
      else if (a.header && raw.length < a.header * 2) why = 'at least ' + a.header + ' bytes';
      else if (raw.length > 510) why = 'at most 255 bytes';
      args.push(raw.toUpperCase());
    } else {
      const n = Number(raw);
      if (raw === '' || !Number.isInteger(n) || n < a.min || n > a.max) why = 'an integer ' + a.min + '..' + a.max;
      args.push(n);
    }
    setText($('arg-error-' + i), why ? ' ' + why : '');
    if (why) ok = false;
  });
  return ok ? args : null;
}

async function run(e) {
  e.preventDefault();
  const c = chosen();
  const out = $('command-result');
  if (!c || !reader) return;
  const args = readArgs(c);
  if (!args) return;
  setText(out, 'running…');
  out.className = 'result';
  const r = await call('POST', readerPath(reader, 'command'), { command: c.name, args, id: Date.now() }, { auth: c.needs_token });
  out.className = 'result ' + (r.status === 200 && r.body.ok ? 'ok' : 'error');
  setText(out, r.status === 200 || r.body.outcome ? JSON.stringify(r.body, null, 1) : (r.body.error || 'HTTP ' + r.status));
}

export async function initCommands() {
  const r = await get('/api/commands');
  if (r.status !== 200) return;
  catalogue = r.body;
  const select = $('command-name');
  const groups = new Map();
  for (const c of catalogue) {
    if (!groups.has(c.family)) groups.set(c.family, el('optgroup', { label: c.family }));
    groups.get(c.family).append(el('option', { value: c.name, disabled: !c.allowed }, c.name + (c.needs_token ? ' *' : '')));
  }
  for (const g of groups.values()) select.append(g);
  select.value = 'GetDeviceInfo';
  select.addEventListener('change', showArgs);
  $('command-form').addEventListener('submit', run);
  showArgs();
}
