// RF power, active antenna and work parameters of the selected reader: read from the reader on
// request, and written (with the token) in one job on its link, then read back.
import { $, setText } from './dom.js';
import { call, get, readerPath } from './api.js';

let reader = '';
let shown = null;

function show(s) {
  shown = s;
  $('set-rf-power').value = s.rf_power;
  $('set-antenna').value = s.active_antenna;
  $('set-work').value = s.work_parameters;
  setText($('set-max'), 'maximum RF power ' + s.max_power + ' dBm');
}

function result(text, ok) {
  const node = $('settings-result');
  setText(node, text);
  node.className = 'result ' + (ok ? 'ok' : 'error');
}

export async function readSettings(name) {
  if (name !== undefined) reader = name;
  if (!reader) return;
  const asked = reader;
  const r = await get(readerPath(asked, 'settings'));
  if (asked !== reader) return;
  if (r.status === 200) {
    show(r.body);
    result('read from the reader', true);
  } else {
    result(r.body.error || 'HTTP ' + r.status, false);
  }
}

async function write(e) {
  e.preventDefault();
  const change = {};
  const power = Number($('set-rf-power').value);
  const antenna = Number($('set-antenna').value);
  const work = $('set-work').value.trim().toUpperCase();
  if (!shown || work !== shown.work_parameters) change.work_parameters = work;
  if (!shown || power !== shown.rf_power) change.rf_power = power;
  if (!shown || antenna !== shown.active_antenna) change.active_antenna = antenna;
  if (!Object.keys(change).length) {
    result('nothing changed', true);
    return;
  }
  const r = await call('PUT', readerPath(reader, 'settings'), change, { auth: true });
  if (r.status === 200) {
    show(r.body);
    result(r.body.written.length ? 'written (' + r.body.written.join(', ') + ') and read back' : 'already so', true);
  } else {
    result((r.status === 401 ? 'refused: ' : '') + (r.body.error || 'HTTP ' + r.status), false);
  }
}

export function initSettings() {
  $('settings-form').addEventListener('submit', write);
  $('settings-read').addEventListener('click', () => readSettings());
}
