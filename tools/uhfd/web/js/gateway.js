// The gateway line: broker connection, queue depth, events dropped, library version.
import { $, setText } from './dom.js';

export function showGateway(g) {
  if (!g) return;
  setText($('gateway-id'), g.gateway);
  const b = g.broker || {};
  const broker = $('broker');
  setText(broker, (b.connected ? 'connected' : 'not connected') + (b.uri ? ' to ' + b.uri : ''));
  broker.className = b.connected ? 'ok' : 'error';
  const q = g.queue || {};
  setText($('queue-depth'), q.depth === undefined ? '–' : q.depth + ' of ' + q.max);
  setText($('queue-dropped'), q.dropped === undefined ? '–' : q.dropped);
  setText($('published'), b.delivered === undefined ? '–' : b.delivered + ' acknowledged');
  setText($('library'), g.library);
}
