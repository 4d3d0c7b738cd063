// The npm peer's decode rate on the ids in a file (one hex id a line): each id to its pure
// identity and tag URIs, repeated for about two seconds after a warm-up. Prints "<ids> <seconds>".
'use strict';
const fs = require('fs');
const path = require('path');
const tds = require(path.resolve(process.argv[2], 'node_modules', 'epc-tds'));
const ids = fs.readFileSync(process.argv[3], 'utf8').split('\n').filter((l) => l.length);

function pass() {
  let n = 0;
  for (const h of ids) {
    const e = tds.valueOf(h);
    n += e.toIdURI().length + e.toTagURI().length;
  }
  return n;
}
for (let i = 0; i < 20; ++i) pass();
let done = 0, sink = 0;
const start = process.hrtime.bigint();
let elapsed = 0;
while (elapsed < 2.0) {
  sink += pass();
  done += ids.length;
  elapsed = Number(process.hrtime.bigint() - start) / 1e9;
}
process.stdout.write(`${done} ${elapsed} ${sink % 10}\n`);
