// The event stream the page follows: through the worker every tab of this browser shares, or,
// where the browser has no shared workers, a stream of the page's own. Either way each
// (re)connection starts with a `hello`, the whole picture, which replaces what the page showed.
import { StreamClient } from './stream_client.js';

let worker = null;
let own = null;
let handlers = {};

function deliver(name, data) {
  if (handlers[name]) handlers[name](data);
}

function connection(state) {
  if (handlers.connection) handlers.connection(state);
}

function shared() {
  if (worker || typeof SharedWorker !== 'function') return worker;
  try {
    worker = new SharedWorker('/js/stream_worker.js', { type: 'module', name: 'uhfd-stream' });
  } catch {
    return null;
  }
  worker.port.onmessage = (m) => {
    if (m.data.event) deliver(m.data.event, m.data.data);
    else if (m.data.connection) connection(m.data.connection);
  };
  worker.port.start();
  addEventListener('pagehide', () => worker.port.postMessage({ bye: true }));
  setInterval(() => worker.port.postMessage({ ping: true }), 5000);
  return worker;
}

export function follow(reader, trace, h) {
  handlers = h;
  connection({ state: 'connecting' });
  if (shared()) {
    worker.port.postMessage({ follow: { reader, trace } });
    return;
  }
  if (own) own.stop();
  const params = new URLSearchParams();
  if (reader) params.set('reader', reader);
  if (reader && trace) params.set('trace', '1');
  own = new StreamClient('/api/events?' + params.toString(), deliver, connection);
}
