#!/usr/bin/env node
// The Client: reads, a write, then live changes and state changes for a
// few seconds, on a connection that restores itself if the server goes.
//
// usage: node examples/async_watch.js HOST[:PORT] [SECONDS]
//   qxdb-sim --port 4100 examples/project &
//   node examples/async_watch.js 127.0.0.1:4100 5
'use strict';
const { Client } = require('..');

async function main(host, seconds = '5') {
  const client = await Client.connect(host, 'operator', 'op123', { reconnect: true, maxDelay: 5000 });
  client.on('state', (state) => console.log('connection:', state));
  const plc = client.driver('PLC1');
  // Each request runs on a libuv worker thread: the event loop goes on.
  console.log('now:', await plc.read(['Tank1.Level', 'Pump1.Speed', 'Pump1.Mode']));
  await plc.write('Pump1.Mode', 'manual');
  // At most 100 changes wait; beyond that only the newest of each tag.
  const watch = plc.watch(['Tank1.Level', 'Pump1.Speed'], { maxSize: 100 });
  const stop = setTimeout(() => watch.close(), Number(seconds) * 1000);
  for await (const change of watch) console.log(`${change.driver}.${change.tag} = ${change.value}`);
  clearTimeout(stop);
  console.log(`coalesced ${watch.coalesced}, dropped ${watch.dropped}`);
  await plc.write('Pump1.Mode', 'auto');
  client.close();
}

const [host, seconds] = process.argv.slice(2);
if (!host) {
  console.error('usage: node examples/async_watch.js HOST[:PORT] [SECONDS]');
  process.exit(2);
}
main(host, seconds).catch((e) => {
  console.error(e.message);
  process.exit(1);
});
