// The reader cards, and the selected reader's state, counters and per-antenna read rates.
import { $, el, clear, setText, hexPrefixText } from './dom.js';

const COUNTERS = ['rounds', 'failed_rounds', 'exchanges', 'reads', 'arrivals', 'departures', 'reconnects', 'commands', 'undecoded_pages', 'events_dropped'];

function card(r, selected, onSelect) {
  const model = hexPrefixText(r.device_info);
  return el('article', { class: 'card' + (selected ? ' selected' : ''), dataset: { reader: r.reader }, tabindex: 0,
    onclick: () => onSelect(r.reader), onkeydown: (e) => { if (e.key === 'Enter') onSelect(r.reader); } },
    el('h3', {}, el('span', { class: 'name' }, r.reader), el('span', { class: 'pill ' + r.state }, r.state)),
    el('p', { class: 'muted' }, r.device, ' @', r.address),
    r.device_info ? el('p', { class: 'device-info', title: r.device_info }, model ? model + ' · ' : '', r.device_info) : null,
    el('p', {}, r.tags_present, ' tags · ', r.counters ? r.counters.rounds : 0, ' rounds · ', (r.last_round_ms || 0).toFixed(1), ' ms last'),
    r.reason ? el('p', { class: 'reason' }, r.reason) : null);
}

export function showReaders(list, selected, onSelect) {
  const box = $('readers');
  clear(box);
  for (const r of list) box.append(card(r, r.reader === selected, onSelect));
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
