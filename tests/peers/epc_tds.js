// Answers for the EPC peer test, one line out per line in:
//   D <hex>   -> the peer's tag URI for the binary id, or "ERR <why>"
//   E <uri>   -> the peer's hex for the tag URI, or "ERR <why>"
'use strict';
const path = require('path');
const tds = require(path.join(process.argv[2] || __dirname, 'node_modules', 'epc-tds'));
const readline = require('readline');

const out = [];
const rl = readline.createInterface({ input: process.stdin, crlfDelay: Infinity });
rl.on('line', (line) => {
  const arg = line.slice(2);
  try {
    if (line[0] === 'D') out.push(tds.valueOf(arg).toTagURI());
    else out.push(tds.fromTagURI(arg).toHexString());
  } catch (e) {
    out.push('ERR ' + String(e && e.message ? e.message : e).replace(/\s+/g, ' '));
  }
});
rl.on('close', () => process.stdout.write(out.join('\n') + '\n'));
