// The live tag table of the selected reader: rows added and removed as tags arrive and depart,
// refreshed each second (reads, signal, antenna, last seen), filtered and sorted in place. A GS1
// id shows its URI under the hex (and its zone, where the reader names zones); the filter takes
// a piece of the hex, text, URI or zone, or an EPC pattern URI.
import { $, el, clear, setText, hexText, time } from './dom.js';

const key = (t) => t.family + ':' + t.id;
const NUMERIC = new Set(['antenna', 'rssi', 'reads']);

export class TagTable {
  constructor() {
    this.tags = new Map();
    this.rows = new Map();
    this.sortKey = 'id';
    this.dir = 1;
    this.filter = '';
    this.pending = false;
    $('tag-filter').addEventListener('input', (e) => {
      this.filter = e.target.value.trim().toLowerCase();
      this.render();
    });
    for (const th of document.querySelectorAll('#tags th[data-sort]'))
      th.addEventListener('click', () => this.sortBy(th.dataset.sort));
    this.showSort();
  }

  // The whole field (a `hello`).
  replace(list) {
    this.tags = new Map((list || []).map((t) => [key(t), t]));
    this.schedule();
  }

  // Fresher figures for the tags shown; rows come and go only with arrivals and departures.
  refresh(list) {
    for (const t of list || []) if (this.tags.has(key(t))) this.tags.set(key(t), t);
    this.schedule();
  }

  arrived(t) {
    this.tags.set(key(t), t);
    this.schedule();
  }

  departed(t) {
    this.tags.delete(key(t));
    this.schedule();
  }

  sortBy(k) {
    this.dir = this.sortKey === k ? -this.dir : 1;
    this.sortKey = k;
    this.showSort();
    this.render();
  }

  showSort() {
    for (const th of document.querySelectorAll('#tags th[data-sort]'))
      th.className = th.dataset.sort === this.sortKey ? (this.dir > 0 ? 'asc' : 'desc') : '';
  }

  // Bursts of arrivals draw once, at the next frame.
  schedule() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.render();
    });
  }

  matches(t) {
    if (!this.filter) return true;
    if (this.filter.startsWith(PATTERN)) return matchesPattern(this.filter, t.epc);
    const text = [t.id, hexText(t.id), t.family, t.antenna === null ? '' : 'ant ' + t.antenna,
      t.zone || '', t.epc ? t.epc.uri + ' ' + t.epc.tag_uri : ''].join(' ').toLowerCase();
    return text.includes(this.filter);
  }

  render() {
    const body = document.querySelector('#tags tbody');
    const shown = [...this.tags.values()].filter((t) => this.matches(t));
    const k = this.sortKey;
    shown.sort((a, b) => {
      const x = a[k], y = b[k];
      const c = NUMERIC.has(k) ? (x ?? -Infinity) - (y ?? -Infinity) : String(x).localeCompare(String(y));
      return c * this.dir || key(a).localeCompare(key(b));
    });
    const keep = new Set(shown.map(key));
    for (const [k2, row] of this.rows) if (!keep.has(k2)) { row.remove(); this.rows.delete(k2); }
    for (const t of shown) {
      let row = this.rows.get(key(t));
      if (!row) {
        row = el('tr', { dataset: { key: key(t), id: t.id, family: t.family } });
        this.rows.set(key(t), row);
      }
      fill(row, t);
      body.append(row);  // moves an existing row into sorted place
    }
    setText($('tag-count'), shown.length === this.tags.size ? '(' + this.tags.size + ')' : '(' + shown.length + ' of ' + this.tags.size + ')');
  }
}

// An EPC pattern URI (urn:epc:pat:sgtin-96:3.0614141.*.*) against a tag's tag URI, part by part:
// "*" takes anything, "[lo-hi]" a number in the range, anything else the same text. An id that is
// no GS1 EPC matches no pattern.
const PATTERN = 'urn:epc:pat:';
function matchesPattern(pattern, epc) {
  if (!epc) return false;
  const [scheme, parts] = splitUri(pattern.slice(PATTERN.length));
  const [tagScheme, tagParts] = splitUri(epc.tag_uri.slice('urn:epc:tag:'.length).toLowerCase());
  if (scheme !== tagScheme || parts.length !== tagParts.length) return false;
  return parts.every((p, i) => {
    if (p === '*') return true;
    const range = /^\[(\d+)-(\d+)\]$/.exec(p);
    if (!range) return p === tagParts[i];
    if (!/^\d+$/.test(tagParts[i])) return false;
    const v = BigInt(tagParts[i]);
    return BigInt(range[1]) <= v && v <= BigInt(range[2]);
  });
}
function splitUri(rest) {
  const colon = rest.indexOf(':');
  return [rest.slice(0, colon), rest.slice(colon + 1).split('.')];
}

function fill(row, t) {
  clear(row);
  const text = hexText(t.id);
  row.append(
    el('td', { class: 'id' }, t.id, text ? el('small', { class: 'text' }, text) : null,
      t.epc ? el('small', { class: 'uri', title: t.epc.tag_uri + (t.epc.gs1 ? ' ' + t.epc.gs1 : '') }, t.epc.uri) : null,
      t.zone ? el('small', { class: 'zone' }, t.zone) : null),
    el('td', {}, t.family),
    el('td', {}, t.antenna ?? '–'),
    el('td', {}, t.rssi ?? '–'),
    el('td', {}, t.reads),
    el('td', { title: t.first_seen }, time(t.first_seen)),
    el('td', { title: t.last_seen }, time(t.last_seen)));
}
