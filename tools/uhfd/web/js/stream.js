// The event stream: one EventSource, reopened when the followed reader or the trace changes.
// The browser reconnects by itself after a drop; each (re)connection starts with a `hello`.
let source = null;

export function follow(reader, trace, handlers) {
  if (source) source.close();
  const params = new URLSearchParams();
  if (reader) params.set('reader', reader);
  if (reader && trace) params.set('trace', '1');
  source = new EventSource('/api/events?' + params.toString());
  for (const name of ['hello', 'status', 'state', 'tag', 'tags', 'frame']) {
    source.addEventListener(name, (e) => {
      let data;
      try {
        data = JSON.parse(e.data);
      } catch {
        return;
      }
      if (handlers[name]) handlers[name](data);
    });
  }
  source.addEventListener('open', () => handlers.connection && handlers.connection(true));
  source.addEventListener('error', () => handlers.connection && handlers.connection(false));
}
