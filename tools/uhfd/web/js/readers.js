// The reader cards, and the selected reader's state, counters and per-antenna read rates.
import { $, el, append, clear, setText, hexPrefixText } from './dom.js';

const COUNTERS = ['rounds', 'failed_rounds', 'exchanges', 'reads', 'arrivals', 'departures', 'reconnects', 'commands', 'undecoded_pages', 'events_dropped'];

function cardContent(r) {
  const model = hexPrefixText(r.device_info);
  return [
    el('h3', {}, el('span', { class: 'name' }, r.reader), el('span', { class: 'pill ' + r.state }, r.state)),
    el('p', { class: 'muted' }, r.device, ' @', r.address),
    r.device_info ? el('p', { class: 'device-info', title: r.device_info }, model ? model + ' · ' : '', r.device_info) : null,
    el('p', {}, r.tags_present, r.state === 'online' ? ' tags · ' : ' tags last seen · ', r.counters ? r.counters.rounds : 0, ' rounds · ', (r.last_round_ms || 0).toFixed(1), ' ms last'),
    r.reason ? el('p', { class: 'reason' }, r.reason) : null,
  ];
}

// Cards stay the same elements from one status to the next (a click or keyboard focus is not
// lost to a redraw); only what they show is replaced, and only when it changed.
const cards = new Map();

export function showReaders(list, selected, onSelect) {
  const box = $('readers');
  const names = new Set(list.map((r) => r.reader));
  for (const [name, node] of cards) if (!names.has(name)) { node.remove(); cards.delete(name); }
  for (const r of list) {
    let node = cards.get(r.reader);
    if (!node) {
      node = el('article', { class: 'card', dataset: { reader: r.reader }, tabindex: 0,
        onclick: () => onSelect(r.reader), onkeydown: (e) => { if (e.key === 'Enter') onSelect(r.reader); } });
      cards.set(r.reader, node);
    }
    node.classList.toggle('selected', r.reader === selected);
    const shown = JSON.stringify([r.state, r.reason, r.device, r.address, r.device_info, r.tags_present,
      r.counters && r.counters.rounds, r.last_round_ms]);
    if (node.dataset.shown !== shown) {
      clear(node);
      append(node, ...cardContent(r));
      node.dataset.shown = shown;
    }
    box.append(node);
  }
}

export function showDetail(r) {
  $('detail').hidden = !r;
  if (!r) return;
  setText($('detail-name'), r.reader);
  const state = $('detail-state');
  setText(state, r.state);
  state.className = 'pill ' + r.state;
  setText($('detail-reason'), r.reason || '');
  if (r.counters) {
    const dl = $('counters');
    clear(dl);
    for (const k of COUNTERS)
      if (k in r.counters) dl.append(el('div', {}, el('dt', {}, k.replace(/_/g, ' ')), el('dd', {}, r.counters[k])));
    const failures = Object.entries(r.failures_by_code || {});
    if (failures.length)
      dl.append(el('div', {}, el('dt', {}, 'failures by code'), el('dd', {}, failures.map(([c, n]) => c + ': ' + n).join(', '))));
  }
  if (r.read_rates) showRates(r.read_rates);
}

function showRates(rates) {
  const box = $('antennas');
  clear(box);
  const entries = Object.entries(rates).sort((a, b) => Number(a[0]) - Number(b[0]));
  if (!entries.length) {
    box.append(el('p', { class: 'muted' }, 'no reads yet'));
    return;
  }
  const top = Math.max(1, ...entries.map(([, v]) => v));
  for (const [antenna, rate] of entries)
    box.append(el('div', { class: 'bar', dataset: { antenna } }, el('span', {}, 'antenna ' + antenna),
      el('meter', { min: 0, max: top, value: rate }), el('span', { class: 'rate' }, rate.toFixed(1) + '/s')));
}
