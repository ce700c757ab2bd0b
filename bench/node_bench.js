#!/usr/bin/env node
// Benchmarks of the Node addon, each figure a ratio to a baseline taken in
// the same run:
// - tag-change deliveries a second into a no-op callback, against raw
//   thread-safe function deliveries of the same records (tsfn_baseline.node);
// - the longest event-loop stall while 100 000 changes are delivered;
// - a one-tag GetTagValue round trip, against a raw `net` request/reply of
//   the same sizes served by the same simulator.
//
// usage: QXDB_ADDON=... node bench/node_bench.js QXDB_SIM TSFN_BASELINE
'use strict';
const net = require('net');
const { monitorEventLoopDelay, performance } = require('perf_hooks');

process.env.QXDB_SIM = process.argv[2];
const baseline = require(require('path').resolve(process.argv[3]));
const { DBCore } = require('..');
const { Sim } = require('../tests/QxDBAccess/node/sim.js');

const N = 2000000;
const ROUNDS = 3;
const BATCH = 204; // I4 changes in one 2048-byte read
const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];

function delivered(drv, sim, n) {
  return new Promise((resolve, reject) => {
    const last = n - 1;
    const start = performance.now();
    drv.cb = (d, t, v) => { if (v === last) resolve(n / ((performance.now() - start) / 1000)); };
    sim.cmd(`storm PLC1 count ${n}`, 120000).catch(reject);
  });
}

function rawDelivered(n) {
  return new Promise((resolve) => {
    const start = performance.now();
    baseline.run(() => {}, n, BATCH, () => resolve(n / ((performance.now() - start) / 1000)));
  });
}

async function roundTrips(sim, drv, n) {
  const port = Number(await sim.cmd('rawlisten 7 48000a0005000000000000000c40'));
  const sock = net.connect(port, '127.0.0.1');
  sock.setNoDelay(true);
  await new Promise((r) => sock.once('connect', r));
  const req = Buffer.from([0x48, 1, 0, 1, 0, 0, 0]);
  const ours = [], raw = [];
  for (let round = 0; round < ROUNDS; round++) {
    let t = performance.now();
    for (let i = 0; i < n; i++) drv.GetTagValue('flow');
    ours.push((performance.now() - t) / n);
    t = performance.now();
    await new Promise((resolve) => {
      let left = n, got = 0;
      const onData = (chunk) => {
        got += chunk.length;
        while (got >= 14) {
          got -= 14;
          if (--left === 0) { sock.off('data', onData); return resolve(); }
          sock.write(req);
        }
      };
      sock.on('data', onData);
      sock.write(req);
    });
    raw.push((performance.now() - t) / n);
  }
  sock.destroy();
  return [median(ours), median(raw)];
}

(async () => {
  const sim = await Sim.start();
  try {
    const db = new DBCore();
    if (db.Connect(sim.host, 'operator', 'op123') !== 0) throw new Error('connect failed');
    const drv = db.GetDriver('PLC1');
    const holder = { cb: () => {} };
    drv.SetTagNotify((d, t, v) => holder.cb(d, t, v));
    drv.ConnectTag('count');
    const ours = [], raw = [];
    for (let i = 0; i < ROUNDS; i++) {
      ours.push(await delivered(holder, sim, N));
      raw.push(await rawDelivered(N));
    }
    const rate = median(ours), base = median(raw);
    console.log(`node: tag-change deliveries  ${rate.toFixed(0).padStart(10)} /s   ` +
                `${(rate / base).toFixed(2)}x raw thread-safe deliveries of the same records ` +
                `(${base.toFixed(0)} /s)`);

    const h = monitorEventLoopDelay({ resolution: 1 });
    h.enable();
    await delivered(holder, sim, 100000);
    h.disable();
    console.log(`node: longest event-loop stall during 100 000 changes  ` +
                `${(h.max / 1e6).toFixed(2)} ms (mean delay ${(h.mean / 1e6).toFixed(2)} ms)`);

    const meter = db.GetDriver('Meter');
    meter.GetTagValue('flow'); // resolved once, outside the loop
    const [one, rawOne] = await roundTrips(sim, meter, 20000);
    console.log(`node: one-tag GetTagValue    ${(one * 1000).toFixed(1).padStart(10)} us   ` +
                `${(one / rawOne).toFixed(2)}x a raw net request/reply of the same sizes ` +
                `(${(rawOne * 1000).toFixed(1)} us)`);
  } finally {
    await sim.stop();
    process.exit(0);
  }
})();
