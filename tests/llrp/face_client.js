// An LLRP client session against a uhfd reader's face, driven by llrpjs's LLRPClient.
//
//   node face_client.js MODULES_DIR PORT STEPS_JSON
//
// STEPS_JSON is an array of steps, run in order:
//   {"send": {"type": "GET_READER_CAPABILITIES", "data": {...}}}   transact; prints the answer
//   {"wait": "RO_ACCESS_REPORT", "count": N, "ms": T}               until N such messages came
//                                  (with "more": true, N more than had come)
//   {"drop": true}                                                 closes the socket, no goodbye
// Every message the reader sends is printed as one line, "TYPE JSON" (llrpjs's own JSON form of
// it); KEEPALIVEs are acknowledged. "end" when the reader closed the socket or the steps are
// done; "error WORDS" and exit 1 on a failure; the whole run is bounded by a 60 s timer.
"use strict";
const path = require("path");
const llrpjs = path.join(process.argv[2], "node_modules", "llrpjs");
const { LLRPClient, LLRPCore } = require(llrpjs);
const { LLRPProxyMessage } = require(path.join(llrpjs, "dist", "src", "proxy", "message"));

const port = Number(process.argv[3]);
const steps = JSON.parse(process.argv[4]);
const fail = (why) => { console.log(`error ${why}`); process.exit(1); };
setTimeout(() => fail("timed out"), 60000).unref();

const reader = new LLRPClient({ host: "127.0.0.1", port });
// llrpjs 1.0.1 decodes one message per TCP read and leaves the rest in its buffer until the next
// read, so two messages in one segment (a last report and the ROSpec's end event) would lag one
// behind for good: every whole message a read completes is taken here.
reader.onData = async function (data) {
  this._scanner.addBuffer(data);
  for (let buf = this._scanner.getNext(); buf; buf = this._scanner.getNext()) {
    const msg = new LLRPProxyMessage(buf).decode();
    this._ee.emit("message", msg);
    this._ee.emit(msg.getName(), msg);
  }
};
// llrpjs 1.0.1's transact() awaits the same received message over and over when the first to
// come is not the response (a report arriving in between), a loop of resolved promises that
// starves every timer: the response is awaited here by its name instead.
const transact = (m, ms = 10000) => new Promise((resolve, reject) => {
  const name = m.getResponseName();
  const timer = setTimeout(() => reject(new Error(`no ${name} within ${ms} ms`)), ms);
  reader._ee.once(name, (response) => { clearTimeout(timer); resolve(response); });
  reader.send(m).catch(reject);
});
const seen = {};
let waiting = null;
const show = (msg) => {
  const type = msg.getName();
  console.log(`${type} ${JSON.stringify(msg.toLLRPData().data)}`);
  seen[type] = (seen[type] || 0) + 1;
  if (waiting && seen[waiting.type] >= waiting.count) { const w = waiting; waiting = null; w.resolve(); }
};
const waitFor = (type, count, ms) => new Promise((resolve, reject) => {
  if ((seen[type] || 0) >= count) return resolve();
  const timer = setTimeout(() => reject(new Error(`no ${count} ${type} within ${ms} ms (${seen[type] || 0})`)), ms);
  waiting = { type, count, resolve: () => { clearTimeout(timer); resolve(); } };
});

reader.on("error", (err) => fail(err.message || String(err)));
for (const type of ["READER_EVENT_NOTIFICATION", "RO_ACCESS_REPORT"]) reader.on(type, show);
reader.on("KEEPALIVE", (msg) => {
  show(msg);
  const ack = new LLRPCore.KEEPALIVE_ACK();
  ack.id = msg.id;
  reader.send(ack);
});
reader.on("disconnect", () => { console.log("end"); process.exit(0); });

(async () => {
  await reader.connect();
  await waitFor("READER_EVENT_NOTIFICATION", 1, 10000);
  for (const step of steps) {
    if (step.send) {
      const Type = LLRPCore[step.send.type];
      if (!Type) throw new Error(`llrpjs has no message ${step.send.type}`);
      const response = await transact(new Type(step.send.data ? { data: step.send.data } : undefined));
      show(response);
    } else if (step.wait) {
      await waitFor(step.wait, (seen[step.wait] || 0) * (step.more ? 1 : 0) + (step.count || 1), step.ms || 10000);
    } else if (step.drop) {
      reader._tcp.destroy();  // no CLOSE_CONNECTION: the client vanishes
      console.log("end");
      process.exit(0);
    }
  }
  console.log("end");
  process.exit(0);
})().catch((err) => fail(err.message || String(err)));
