#!/usr/bin/env node
// Advises tags and prints each change as it arrives, for a few seconds.
//
// usage: node examples/subscribe.js HOST[:PORT] [SECONDS]
//   qxdb-sim --port 4100 examples/project &
//   node examples/subscribe.js 127.0.0.1:4100 5
'use strict';
const { DBCore } = require('..');

const [host, seconds = '5'] = process.argv.slice(2);
if (!host) {
  console.error('usage: node examples/subscribe.js HOST[:PORT] [SECONDS]');
  process.exit(2);
}
const db = new DBCore();
const code = db.Connect(host, 'viewer', 'view');
if (code !== 0) {
  console.error(`connect to ${host} failed: ${code}`);
  process.exit(1);
}
const plc = db.GetDriver('PLC1');
// Called on this (the JavaScript) thread, in the order the server sent them.
plc.SetTagNotify((driver, tag, value) => {
  console.log(`${new Date().toLocaleTimeString()}  ${driver}.${tag} = ${value}`);
});
plc.ConnectTag('Tank1.Level,Pump1.Speed');
// Advised tags are read from the local table: no traffic.
console.log('now:', plc.GetTagValue('Tank1.Level,Pump1.Speed'));
// A registered callback keeps the process alive while connected.
setTimeout(() => process.exit(0), Number(seconds) * 1000);
