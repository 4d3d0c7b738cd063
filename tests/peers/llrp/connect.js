// An LLRP client session against the connection layer, driven by llrpjs's LLRPClient.
//
//   node connect.js MODULES_DIR PORT KEEPALIVES
//
// Connects, prints "event STATUS" for the ConnectionAttemptEvent, acknowledges KEEPALIVES
// keepalives ("keepalive ID" each, the ACK carrying the KEEPALIVE's ID), sends CLOSE_CONNECTION
// and prints "close STATUS" from its response, then "end" when the reader has closed the socket.
// Any failure prints "error WORDS" and exits 1; the whole run is bounded by a 20 s timer.
"use strict";
const path = require("path");
const { LLRPClient, LLRPCore } = require(path.join(process.argv[2], "node_modules", "llrpjs"));

const port = Number(process.argv[3]);
const keepalives = Number(process.argv[4]);
const fail = (why) => { console.log(`error ${why}`); process.exit(1); };
setTimeout(() => fail("timed out"), 20000).unref();

const reader = new LLRPClient({ host: "127.0.0.1", port });
let acked = 0;
let connected;
const connectedEvent = new Promise((resolve) => { connected = resolve; });
let done;
const enoughKeepalives = new Promise((resolve) => { done = resolve; });

reader.on("error", (err) => fail(err.message || String(err)));
reader.on("READER_EVENT_NOTIFICATION", (msg) => {
  const attempt = msg.getReaderEventNotificationData().getConnectionAttemptEvent();
  if (attempt) {
    console.log(`event ${attempt.getStatus()}`);
    connected();
  }
});
reader.on("KEEPALIVE", (msg) => {
  if (acked >= keepalives) return;
  console.log(`keepalive ${msg.id}`);
  const ack = new LLRPCore.KEEPALIVE_ACK();
  ack.id = msg.id;
  reader.send(ack);
  if (++acked === keepalives) done();
});
reader.on("disconnect", () => { console.log("end"); process.exit(0); });

(async () => {
  await reader.connect();
  await connectedEvent;
  if (keepalives > 0) await enoughKeepalives;
  const response = await reader.transact(new LLRPCore.CLOSE_CONNECTION());
  console.log(`close ${response.getLLRPStatus().getStatusCode()}`);
})().catch((err) => fail(err.message || String(err)));
