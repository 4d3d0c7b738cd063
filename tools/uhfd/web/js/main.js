// The console page: follows one reader at a time (#reader=NAME in the address) over the event
// stream, and shows every reader's state and the gateway's.
import { $, setText } from './dom.js';
import { get, token, setToken } from './api.js';
import { follow } from './stream.js';
import { showGateway } from './gateway.js';
import { showReaders, showDetail } from './readers.js';
import { TagTable } from './tags.js';
import { readSettings, initSettings } from './settings.js';
import { initCommands, setCommandReader } from './command.js';
import { addFrame, clearTrace, onTraceToggle } from './trace.js';

const state = { readers: [], selected: '', trace: false };
const table = new TagTable();

function selectedReader() {
  return state.readers.find((r) => r.reader === state.selected);
}

function redraw() {
  showReaders(state.readers, state.selected, select);
  showDetail(selectedReader());
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

const handlers = {
  hello(d) {
    showGateway(d.gateway);
    state.readers = d.readers;
    if (d.reader === state.selected) table.replace(d.tags ? d.tags.tags : []);
    redraw();
  },
  status(d) {
    showGateway(d.gateway);
    state.readers = d.readers;
    redraw();
  },
  state(d) {
    const r = state.readers.find((x) => x.reader === d.reader);
    if (r) Object.assign(r, { state: d.state, reason: d.reason, since: d.since, device_info: d.device_info });
    redraw();
  },
  tag(d) {
    if (d.reader !== state.selected) return;
    if (d.type === 'arrived') table.arrived(d.tag);
    else table.departed(d.tag);
  },
  tags(d) {
    if (d.reader === state.selected) table.refresh(d.tags);
  },
  frame(d) {
    if (d.reader === state.selected) addFrame(d);
  },
  connection(up) {
    const pill = $('connection');
    setText(pill, up ? 'live' : 'reconnecting');
    pill.className = 'pill ' + (up ? 'on' : 'off');
  },
};

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
