'use strict';
// Lifetime in child processes: exits in the middle of a storm of changes,
// workers, a DBCore left to the garbage collector, a driver that keeps its
// DBCore, a queue that holds the receive thread back, and callbacks that
// throw.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('child_process');
const path = require('path');
const { Sim } = require('./sim.js');

const INDEX = path.join(__dirname, '..', '..', '..', 'index.js');

// Runs code in a child node; resolves { code, signal, out, err, ms } where ms
// counts from the child's line "go" (or its start) to its end.
function child(code, args, { onLine, timeout = 20000, flags = [] } = {}) {
  code = 'const A = process.argv.slice(1);\n' + code;
  return new Promise((resolve) => {
    const p = spawn(process.execPath, [...flags, '-e', code, INDEX, ...args], {
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    let out = '', err = '', from = Date.now(), pending = '';
    const timer = setTimeout(() => p.kill('SIGKILL'), timeout);
    p.stdout.setEncoding('utf8');
    p.stdout.on('data', (chunk) => {
      out += chunk;
      pending += chunk;
      let i;
      while ((i = pending.indexOf('\n')) >= 0) {
        const line = pending.slice(0, i);
        pending = pending.slice(i + 1);
        if (line === 'go') from = Date.now();
        if (onLine) onLine(line, p);
      }
    });
    p.stderr.on('data', (chunk) => (err += chunk));
    p.on('close', (code, signal) => {
      clearTimeout(timer);
      resolve({ code, signal, out, err, ms: Date.now() - from });
    });
  });
}

// The child's common start: connect, advise "count", count the changes.
// A holds the index.js path and the server's address.
const PRELUDE = `
  const { DBCore } = require(A[0]);
  let db = new DBCore();
  if (db.Connect(A[1], 'operator', 'op123') !== 0) process.exit(3);
  let drv = db.GetDriver('PLC1');
  let n = 0;
  const seen = [];
`;

test('lifetime', async (t) => {
  const sim = await Sim.start();
  t.after(() => sim.stop());
  const storm = (count) => sim.cmd(`storm PLC1 count ${count}`, 60000).catch(() => {});

  await t.test('process.exit() in the middle of a storm, 20 times', async () => {
    const code = PRELUDE + `
      drv.SetTagNotify(() => { if (++n === 100) { console.log('go'); process.exit(0); } });
      drv.ConnectTag('count');
      console.log('ready');
    `;
    for (let round = 0; round < 20; round++) {
      let stormDone;
      const r = await child(code, [sim.host], {
        onLine: (line) => { if (line === 'ready') stormDone = storm(3000000); },
      });
      await stormDone;
      assert.equal(r.code, 0, `round ${round}: ${r.err}`);
      assert.ok(r.ms < 2000, `round ${round}: exit took ${r.ms} ms`);
    }
  });

  await t.test('a worker terminated in the middle of a storm', async () => {
    const code = `
      const { Worker } = require('worker_threads');
      const w = new Worker('const A = require("worker_threads").workerData;' + ${JSON.stringify(PRELUDE)} + \`
        drv.SetTagNotify(() => { if (++n === 100) require('worker_threads').parentPort.postMessage('busy'); });
        drv.ConnectTag('count');
        require('worker_threads').parentPort.postMessage('ready');
      \`, { eval: true, workerData: A });
      w.on('message', (m) => {
        if (m === 'ready') console.log('ready');
        if (m === 'busy') { console.log('go'); w.terminate(); }
      });
      w.on('exit', () => console.log('worker ended'));
      w.on('error', (e) => { console.error(e); process.exit(4); });
    `;
    let stormDone;
    const r = await child(code, [sim.host], {
      onLine: (line) => { if (line === 'ready') stormDone = storm(3000000); },
    });
    await stormDone;
    assert.equal(r.code, 0, r.err);
    assert.match(r.out, /worker ended/);
    assert.ok(r.ms < 2000, `ended after ${r.ms} ms`);
  });

  await t.test('a DBCore left to the garbage collector lets the script end', async () => {
    const code = PRELUDE + `
      drv.SetTagNotify(() => {});
      db.SetRtAlarmNotify(() => {}, false);
      drv.ConnectTag('count');
      setTimeout(() => { console.log('go'); db = drv = null; global.gc(); }, 50);
    `;
    const r = await child(code, [sim.host], { flags: ['--expose-gc'] });
    assert.equal(r.code, 0, r.err);
    assert.ok(r.ms < 2000, `ended after ${r.ms} ms`);
  });

  await t.test('a driver keeps its DBCore', async () => {
    const code = `
      const { DBCore } = require(A[0]);
      let drv = (() => {
        const db = new DBCore();
        db.Connect(A[1], 'operator', 'op123');
        return db.GetDriver('PLC1');
      })();
      global.gc();
      setTimeout(() => { global.gc(); console.log('value', drv.GetTagValue('i4')); }, 50);
    `;
    const r = await child(code, [sim.host], { flags: ['--expose-gc'] });
    assert.equal(r.code, 0, r.err);
    assert.match(r.out, /value -70000/);
  });

  await t.test('a script that falls behind holds the server back, losing nothing', async () => {
    const code = PRELUDE + `
      const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
      const rss = process.memoryUsage().rss;
      let expect = 0, bad = 0, peak = 0;
      drv.SetTagNotify((d, t, v) => {
        if (v !== expect++) bad++;
        if (expect === 1) { console.log('go'); sleep(1500); }
        if (expect % 100000 === 0) peak = Math.max(peak, process.memoryUsage().rss - rss);
        if (expect === 2000000) { console.log('done', bad, peak >> 20); process.exit(0); }
      });
      drv.ConnectTag('count');
      console.log('ready');
    `;
    let stormDone, stormEnded = 0;
    const r = await child(code, [sim.host], {
      timeout: 60000,
      onLine: (line) => {
        if (line === 'ready')
          stormDone = storm(2000000).then(() => (stormEnded = Date.now()));
      },
    });
    await stormDone;
    assert.equal(r.code, 0, r.err);
    const [, bad, peakMiB] = /done (\d+) (\d+)/.exec(r.out).map(Number);
    assert.equal(bad, 0); // every change, in order
    assert.ok(peakMiB < 64, `memory grew by ${peakMiB} MiB`);
  });

  await t.test('a connect again while the queue is full does not hang', async () => {
    const code = PRELUDE + `
      const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
      drv.SetTagNotify(() => {
        if (++n !== 1) return;
        console.log('go');
        sleep(1000); // the storm fills the queue meanwhile
        console.log('connect', db.Connect(A[1], 'operator', 'op123'));
        process.exit(0);
      });
      drv.ConnectTag('count');
      console.log('ready');
    `;
    let stormDone;
    const r = await child(code, [sim.host], {
      timeout: 30000,
      onLine: (line) => { if (line === 'ready') stormDone = storm(2000000); },
    });
    await stormDone;
    assert.equal(r.code, 0, r.err);
    assert.match(r.out, /connect 0/);
    assert.ok(r.ms < 10000, `took ${r.ms} ms`);
  });

  await t.test('a callback that throws is reported as uncaught; delivery goes on', async () => {
    const code = PRELUDE + `
      const errors = [];
      process.on('uncaughtException', (e) => errors.push(e.message));
      drv.SetTagNotify((d, t, v) => {
        seen.push(v);
        if (v === 1) throw new Error('boom');
        if (v === 2) { console.log(JSON.stringify({ seen, errors })); process.exit(0); }
      });
      drv.ConnectTag('count');
      console.log('ready');
    `;
    const r = await child(code, [sim.host], {
      onLine: async (line) => {
        if (line !== 'ready') return;
        await sim.cmd('set PLC1 count 1');
        await sim.cmd('set PLC1 count 2');
      },
    });
    assert.equal(r.code, 0, r.err);
    assert.deepEqual(JSON.parse(r.out.trim().split('\n').pop()), { seen: [1, 2], errors: ['boom'] });
  });
});
