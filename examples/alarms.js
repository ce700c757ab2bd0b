#!/usr/bin/env node
// Prints the active real-time alarms, then each one the server raises or
// ends, for a few seconds.
//
// usage: node examples/alarms.js HOST[:PORT] [SECONDS]
//   qxdb-sim --port 4100 examples/project &
//   node examples/alarms.js 127.0.0.1:4100 6
'use strict';
const { DBCore } = require('..');

const [host, seconds = '6'] = process.argv.slice(2);
if (!host) {
  console.error('usage: node examples/alarms.js HOST[:PORT] [SECONDS]');
  process.exit(2);
}
const db = new DBCore();
const code = db.Connect(host, 'viewer', 'view');
if (code !== 0) {
  console.error(`connect to ${host} failed: ${code}`);
  process.exit(1);
}
function onAlarm(almtm, evttm, tag, hasEvent, type, group, level, value, limit, status) {
  const what = hasEvent ? 'ended ' : 'raised';
  console.log(`${almtm.toLocaleTimeString()}  ${what} ${tag.padEnd(12)} ${type.padEnd(11)} ` +
              `[${group}] level ${level} value ${value.toFixed(2)} limit ${limit.toFixed(2)} ` +
              `status ${status}`);
}
// true: the alarms active now come first, before SetRtAlarmNotify returns.
const result = db.SetRtAlarmNotify(onAlarm, true);
if (result !== 0) console.error(`subscription failed: ${result}`);
setTimeout(() => process.exit(0), Number(seconds) * 1000);
