// Shared by every console tab of one browser: one event stream per followed reader (and trace),
// however many tabs follow it, so tabs beyond the browser's six connections per host stay live.
// A tab that joins a stream already open gets a fresh picture with everyone else (the stream is
// reopened), never one pieced together from before it came.
import { StreamClient } from './stream_client.js';

const streams = new Map();  // key -> {client, ports: Set}
const ports = new Map();    // port -> {key, seen}
const GONE_MS = 15000;      // a tab that stops calling in (closed without a word) is let go

function keyOf(reader, trace) {
  const params = new URLSearchParams();
  if (reader) params.set('reader', reader);
  if (reader && trace) params.set('trace', '1');
  return params.toString();
}

function leave(port) {
  const p = ports.get(port);
  if (!p) return;
  ports.delete(port);
  const s = streams.get(p.key);
  if (!s) return;
  s.ports.delete(port);
  if (!s.ports.size) {
    s.client.stop();
    streams.delete(p.key);
  }
}

function follow(port, reader, trace) {
  leave(port);
  const key = keyOf(reader, trace);
  ports.set(port, { key, seen: Date.now() });
  let s = streams.get(key);
  if (s) {
    s.ports.add(port);
    port.postMessage({ connection: s.client.state });
    s.client.restart();
    return;
  }
  s = { ports: new Set([port]) };
  streams.set(key, s);
  s.client = new StreamClient('/api/events?' + key,
    (name, data) => { for (const q of s.ports) q.postMessage({ event: name, data }); },
    (state) => { for (const q of s.ports) q.postMessage({ connection: state }); });
}

self.onconnect = (e) => {
  const port = e.ports[0];
  port.onmessage = (m) => {
    const d = m.data || {};
    if (d.follow) follow(port, d.follow.reader, d.follow.trace);
    else if (d.bye) leave(port);
    const p = ports.get(port);
    if (p) p.seen = Date.now();
  };
  port.start();
};

setInterval(() => {
  const now = Date.now();
  for (const [port, p] of ports) if (now - p.seen > GONE_MS) leave(port);
}, GONE_MS / 3);
