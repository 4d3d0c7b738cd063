// The frame trace of the selected reader: the newest frames first, as they went on the wire.
import { $, el, clear, time } from './dom.js';

const KEEP = 200;

export function clearTrace() {
  clear(document.querySelector('#trace tbody'));
}

export function addFrame(f) {
  const body = document.querySelector('#trace tbody');
  const arrow = f.dir === 'sent' ? '→' : f.dir === 'received' ? '←' : '×';
  body.prepend(el('tr', {}, el('td', {}, time(f.time)), el('td', { class: f.dir }, arrow + ' ' + f.dir),
    el('td', {}, f.bytes + ' B'), el('td', { class: f.dir }, f.hex)));
  while (body.rows.length > KEEP) body.lastElementChild.remove();
}

export function onTraceToggle(fn) {
  $('trace-on').addEventListener('change', (e) => fn(e.target.checked));
}
