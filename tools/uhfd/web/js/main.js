// The console page: follows one reader at a time (#reader=NAME in the address) over the event
// stream, and shows every reader's state and the gateway's.
import { $, setText, time } from './dom.js';
import { get, token, setToken } from './api.js';
import { follow } from './stream.js';
import { showGateway } from './gateway.js';
import { showReaders, showDetail } from './readers.js';
import { TagTable } from './tags.js';
import { readSettings, initSettings } from './settings.js';
import { initCommands, setCommandReader } from './command.js';
import { addFrame, clearTrace, onTraceToggle } from './trace.js';

const state = { readers: [], selected: '', trace: false, stream: { state: 'connecting' }, broker: true };
const table = new TagTable();

function selectedReader() {
  return state.readers.find((r) => r.reader === state.selected);
}

function redraw() {
  showReaders(state.readers, state.selected, select);
  const r = selectedReader();
  showDetail(r);
  // An offline reader's tags are the last it saw, not what is in its field now.
  const last = !!r && r.state !== 'online';
  $('tags-panel').classList.toggle('last-seen', last);
  const note = $('tags-note');
  note.hidden = !last;
  if (last) setText(note, 'The reader is ' + r.state + (r.since ? ' since ' + time(r.since) : '') + ': these are the tags it saw last, not what is in its field now.');
}

function select(name) {
  if (name === state.selected) return;
  state.selected = name;
  history.replaceState(null, '', '#reader=' + encodeURIComponent(name));
  table.replace([]);
  clearTrace();
  setCommandReader(name);
  readSettings(name);
  redraw();
  listen();
}

// What the page shows is one moment's: while the stream is down it is marked stale, and the
// `hello` that opens the next connection replaces all of it (cards, table, gateway) at once.
const handlers = {
  hello(d) {
    showGateway(d.gateway);
    state.broker = !!(d.gateway && d.gateway.broker && d.gateway.broker.connected);
    state.readers = d.readers;
    table.replace(d.reader === state.selected && d.tags ? d.tags.tags : []);
    document.body.classList.remove('stale');
    redraw();
    showConnection();
  },
  status(d) {
    showGateway(d.gateway);
    state.broker = !!(d.gateway && d.gateway.broker && d.gateway.broker.connected);
    state.readers = d.readers;
    redraw();
    showConnection();
  },
  state(d) {
    const r = state.readers.find((x) => x.reader === d.reader);
    if (r) Object.assign(r, { state: d.state, reason: d.reason, since: d.since, device_info: d.device_info });
    redraw();
  },
  tag(d) {
    if (d.reader !== state.selected) return;
    if (d.type === 'arrived' || d.type === 'moved') table.arrived(d.tag);
    else table.departed(d.tag);
  },
  tags(d) {
    if (d.reader === state.selected) table.refresh(d.tags);
  },
  frame(d) {
    if (d.reader === state.selected) addFrame(d);
  },
  connection(s) {
    state.stream = s;
    if (s.state !== 'live') document.body.classList.add('stale');
    showConnection();
  },
};

// The pill says which is down: this page's stream (and what it is doing about it) or the broker.
function showConnection() {
  const pill = $('connection');
  const s = state.stream;
  let text, cls, title = '';
  if (s.state === 'live') {
    [text, cls] = state.broker ? ['live', 'on'] : ['live · broker down', 'warn'];
    if (!state.broker) title = 'the console is live; the gateway is not connected to its MQTT broker (events wait in its queue)';
  } else if (s.state === 'waiting') {
    const seconds = Math.max(0, Math.ceil((s.until - Date.now()) / 1000));
    text = 'stream down · retrying in ' + seconds + ' s';
    cls = 'off';
    title = s.why + '; what the page shows is from before';
  } else {
    text = 'connecting…';
    cls = 'off';
  }
  setText(pill, text);
  pill.className = 'pill ' + cls;
  pill.title = title;
  pill.dataset.stream = s.state;
}
setInterval(() => { if (state.stream.state === 'waiting') showConnection(); }, 1000);

function listen() {
  follow(state.selected, state.trace, handlers);
}

function showToken() {
  setText($('token-state'), token() ? 'token set for this tab' : 'read only');
}

async function start() {
  $('token-form').addEventListener('submit', (e) => {
    e.preventDefault();
    setToken($('token').value.trim());
    $('token').value = '';
    showToken();
  });
  showToken();
  initSettings();
  onTraceToggle((on) => {
    state.trace = on;
    clearTrace();
    listen();
  });
  const r = await get('/api/readers');
  state.readers = r.status === 200 ? r.body.readers : [];
  const wanted = new URLSearchParams(location.hash.slice(1)).get('reader');
  const first = state.readers.find((x) => x.reader === wanted) || state.readers[0];
  await initCommands();
  if (first) select(first.reader);
  else listen();
}

start();
