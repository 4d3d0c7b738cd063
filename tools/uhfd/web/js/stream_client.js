// One event stream, kept open: read with fetch (so a refusal's status and Retry-After are seen,
// which EventSource hides), reopened after a refusal or a drop with a backoff that honours
// Retry-After, and reopened when it falls silent (the gateway sends a status every second).
// Runs in the shared worker, or in the page where there is none.
const SILENT_MS = 10000;
const FIRST_BACKOFF_MS = 1000;
const MAX_BACKOFF_MS = 30000;

export class StreamClient {
  // onEvent(name, data); onState({state: 'connecting'|'live'|'waiting', until, why}).
  constructor(url, onEvent, onState) {
    this.url = url;
    this.onEvent = onEvent;
    this.onState = onState;
    this.backoff = FIRST_BACKOFF_MS;
    this.abort = null;
    this.timer = null;
    this.stopped = false;
    this.state = { state: 'connecting' };
    this.open();
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.timer);
    if (this.abort) this.abort.abort();
  }

  // A fresh picture for everyone listening: reopen now (a new listener joined).
  restart() {
    if (this.state.state !== 'live') return;  // the picture is on its way
    clearTimeout(this.timer);
    if (this.abort) this.abort.abort();
    this.open();
  }

  setState(s) {
    this.state = s;
    this.onState(s);
  }

  async open() {
    if (this.stopped) return;
    const abort = new AbortController();
    this.abort = abort;
    this.setState({ state: 'connecting' });
    let why = 'the stream ended';
    let wait = null;
    try {
      const response = await fetch(this.url, { cache: 'no-store', signal: abort.signal, headers: { Accept: 'text/event-stream' } });
      if (response.status !== 200) {
        why = 'the gateway refused the stream (HTTP ' + response.status + ')';
        const after = Number(response.headers.get('Retry-After'));
        if (after > 0) wait = after * 1000;
        try { await response.body.cancel(); } catch { /* already gone */ }
      } else {
        await this.read(response.body.getReader(), abort);
      }
    } catch (e) {
      if (this.abort !== abort) return;  // replaced by a restart or stopped
      why = abort.signal.aborted ? 'the stream fell silent' : 'the gateway did not answer';
    }
    if (this.stopped || this.abort !== abort) return;
    // Retry-After as given, with a little spread so tabs and browsers do not come back together.
    const delay = wait !== null ? wait + Math.random() * 1000 : this.backoff * (0.75 + Math.random() * 0.5);
    if (wait === null) this.backoff = Math.min(this.backoff * 2, MAX_BACKOFF_MS);
    this.setState({ state: 'waiting', until: Date.now() + delay, why });
    this.timer = setTimeout(() => this.open(), delay);
  }

  async read(reader, abort) {
    const decoder = new TextDecoder();
    let buffer = '';
    let silent = setTimeout(() => abort.abort(), SILENT_MS);
    try {
      for (;;) {
        const { value, done } = await reader.read();
        if (done) return;
        clearTimeout(silent);
        silent = setTimeout(() => abort.abort(), SILENT_MS);
        buffer += decoder.decode(value, { stream: true });
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          const block = buffer.slice(0, end);
          buffer = buffer.slice(end + 2);
          this.dispatch(block);
        }
      }
    } finally {
      clearTimeout(silent);
    }
  }

  dispatch(block) {
    let name = 'message';
    let data = '';
    for (const line of block.split('\n')) {
      if (line.startsWith('event:')) name = line.slice(6).trim();
      else if (line.startsWith('data:')) data += line.slice(5).trimStart();
    }
    if (!data) return;
    let parsed;
    try {
      parsed = JSON.parse(data);
    } catch {
      return;
    }
    if (name === 'hello') {
      this.backoff = FIRST_BACKOFF_MS;
      this.setState({ state: 'live' });
    }
    this.onEvent(name, parsed);
  }
}
