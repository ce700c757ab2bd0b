#!/usr/bin/env node
// Reads tags, writes two of them and reads them back.
//
// usage: node examples/read_write.js HOST[:PORT] [USER PASSWORD]
//   qxdb-sim --port 4100 examples/project &
//   node examples/read_write.js 127.0.0.1:4100 operator op123
'use strict';
const { DBCore } = require('..');

const [host, user = 'operator', password = 'op123'] = process.argv.slice(2);
if (!host) {
  console.error('usage: node examples/read_write.js HOST[:PORT] [USER PASSWORD]');
  process.exit(2);
}
const db = new DBCore();
const code = db.Connect(host, user, password);
if (code !== 0) {
  console.error(`connect to ${host} failed: ${code}`);
  process.exit(1);
}
const plc = db.GetDriver('PLC1');

const names = 'Tank1.Level,Tank1.Temp,Pump1.Run,Pump1.Speed,Pump1.Mode,NoSuchTag';
const values = plc.GetTagValue(names);
names.split(',').forEach((name, i) => console.log(name.padEnd(12), values[i]));

// One name takes one value; several names take an array.
console.log('write Pump1.Mode:', plc.SetTagValue('Pump1.Mode', 'manual'));
console.log('write Tank1.Temp, Pump1.Run:', plc.SetTagValue('Tank1.Temp,Pump1.Run', [22.5, false]));
console.log('read back:', plc.GetTagValue('Pump1.Mode,Tank1.Temp,Pump1.Run'));
plc.SetTagValue('Pump1.Mode,Pump1.Run', ['auto', true]); // as it was
