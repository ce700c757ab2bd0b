#!/usr/bin/env node
// Benchmarks of the Client, each rate a ratio to a baseline taken in the
// same run:
// - changes a second through a watch, as 'change' events and consumed one
//   at a time with `for await` (overflow 'block', so that none is given
//   up), against the addon's callback rate into a trivial callback;
// - the time from the server coming back (it refused logins until then) to
//   the first change delivered on a watch after the reconnect.
//
// usage: QXDB_ADDON=... node bench/node_async_bench.js QXDB_SIM
'use strict';
const { performance } = require('perf_hooks');

process.env.QXDB_SIM = process.argv[2];
const { DBCore, Client } = require('..');
const { Sim } = require('../tests/QxDBAccess/node/sim.js');

const N = 1000000;
const ROUNDS = 5;
const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function nativeRate(sim) {
  const db = new DBCore();
  if (db.Connect(sim.host, 'operator', 'op123') !== 0) throw new Error('connect failed');
  const drv = db.GetDriver('PLC1');
  let done = null;
  drv.SetTagNotify((d, t, v) => { if (v === N - 1) done(); });
  drv.ConnectTag('count');
  const rates = [];
  for (let r = 0; r < ROUNDS; r++) {
    const start = performance.now();
    await new Promise((resolve) => { done = resolve; sim.cmd(`storm PLC1 count ${N}`, 120000); });
    rates.push(N / ((performance.now() - start) / 1000));
  }
  db.Disconnect();
  return median(rates);
}

async function clientRates(sim) {
  const client = await Client.connect(sim.host, 'operator', 'op123');
  const drv = client.driver('PLC1');
  const events = [], iterated = [];
  let watch = drv.watch('count');
  await watch.ready();
  for (let r = 0; r < ROUNDS; r++) {
    const start = performance.now();
    await new Promise((resolve) => {
      const onChange = (c) => {
        if (c.value !== N - 1) return;
        watch.off('change', onChange);
        resolve();
      };
      watch.on('change', onChange);
      sim.cmd(`storm PLC1 count ${N}`, 120000);
    });
    events.push(N / ((performance.now() - start) / 1000));
  }
  watch.close();
  watch = drv.watch('count', { maxSize: 10000, overflow: 'block' });
  const it = watch[Symbol.asyncIterator]();
  await watch.ready();
  for (let r = 0; r < ROUNDS; r++) {
    const start = performance.now();
    const storm = sim.cmd(`storm PLC1 count ${N}`, 120000);
    let n = 0;
    for (;;) {
      const { value } = await it.next();
      n++;
      if (value.value === N - 1) break;
    }
    iterated.push(n / ((performance.now() - start) / 1000));
    await storm;
  }
  client.close();
  return [median(events), median(iterated)];
}

async function reconnectTimes(sim) {
  const client = await Client.connect(sim.host, 'operator', 'op123', { initialDelay: 20, maxDelay: 100 });
  const watch = client.driver('PLC1').watch('count');
  await watch.ready();
  const times = [];
  for (let r = 0; r < 5; r++) {
    await sim.cmd('refuse 1000000');
    await sim.cmd('drop');
    await new Promise((resolve) => setTimeout(resolve, 300)); // attempts refused meanwhile
    const first = new Promise((resolve) => watch.once('change', resolve));
    const back = performance.now();
    await sim.cmd('refuse 0');
    await first; // the resynchronised value
    times.push(performance.now() - back);
  }
  client.close();
  return [median(times), Math.max(...times)];
}

(async () => {
  const sim = await Sim.start();
  try {
    const native = await nativeRate(sim);
    const [events, iterated] = await clientRates(sim);
    const f = (x) => x.toFixed(0).padStart(10);
    console.log(`node Client: 'change' events   ${f(events)} /s   ${(events / native).toFixed(2)}x the addon's callback rate (${native.toFixed(0)} /s)`);
    console.log(`node Client: for await change  ${f(iterated)} /s   ${(iterated / native).toFixed(2)}x the addon's callback rate`);
    const [med, worst] = await reconnectTimes(sim);
    console.log(`node Client: server back to first change after reconnect: median ${med.toFixed(0)} ms, worst ${worst.toFixed(0)} ms (pauses 20 ms doubling to 100 ms)`);
  } finally {
    await sim.stop();
  }
})().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
