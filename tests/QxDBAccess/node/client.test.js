'use strict';
// The additions: connection state, reconnect, the promise methods, and the
// Client with its bounded streams.
const test = require('node:test');
const assert = require('node:assert/strict');
const { DBCore, Client, Stream, QxdbError } = require('../../../index.js');
const { Sim, waitUntil } = require('./sim.js');

const connect = (sim, options = {}) =>
  Client.connect(sim.host, 'operator', 'op123', { initialDelay: 10, maxDelay: 50, ...options });

// The next event of emitter, within ms.
function nextEvent(emitter, event, ms = 5000) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no ${event} event`)), ms);
    emitter.once(event, (v) => {
      clearTimeout(timer);
      resolve(v);
    });
  });
}

test('stream policies when full', async () => {
  const items = [['a', 1], ['b', 1], ['a', 2], ['c', 1], ['a', 3], ['b', 2], ['a', 4]];
  const cases = [
    // Before the overflow, in order; then the newest of each key.
    ['coalesce', [['a', 1], ['b', 1], ['a', 2], ['c', 1], ['a', 4], ['b', 2]], 1, 0],
    ['drop-oldest', [['a', 3], ['b', 2], ['a', 4]], 0, 4],
    ['block', items, 0, 0],
  ];
  for (const [overflow, want, coalesced, dropped] of cases) {
    let full = 0;
    const s = new Stream({ maxSize: 3, overflow, key: (x) => x[0], onFull: () => full++ });
    for (const it of items) s.put(it);
    s.close();
    const got = [];
    for await (const it of s) got.push(it);
    assert.deepEqual(got, want, overflow);
    assert.deepEqual([s.coalesced, s.dropped], [coalesced, dropped], overflow);
    assert.equal(full, overflow === 'block' ? 1 : 0, overflow);
  }
  assert.throws(() => new Stream({ overflow: 'newest' }), RangeError);
  assert.throws(() => new Stream({ maxSize: 0, overflow: 'block' }), RangeError);
  assert.throws(() => new Stream({ overflow: 'coalesce' }), TypeError);
});

test('against the simulator', async (t) => {
  const sim = await Sim.start();
  t.after(() => sim.stop());

  await t.test('state, disconnect, last error and the promise methods', async () => {
    const db = new DBCore();
    const states = [];
    assert.equal(db.SetStateNotify((s) => states.push(s)), true);
    assert.equal(db.SetStateNotify(() => {}), false); // the first stays
    assert.equal(db.GetState(), 'unconnected');
    assert.equal(db.LastError(), '');
    assert.equal(await db.ConnectAsync(sim.host, 'operator', 'wrong'), -1);
    assert.equal(db.LastError(), "login refused for user 'operator'");
    assert.equal(await db.ConnectAsync(sim.host, 'operator', 'op123'), 0);
    assert.equal(db.IsConnected(), true);
    const drv = await db.GetDriverAsync('PLC1');
    assert.equal(await db.GetDriverAsync('Nope'), undefined);
    assert.equal(await drv.SetTagValueAsync('i4,r8', [7, 2.5]), 0);
    assert.deepEqual(await drv.GetTagValueAsync('i4,r8'), drv.GetTagValue('i4,r8'));
    assert.equal(await drv.GetTagValueAsync('i4'), 7);
    assert.equal(await drv.SetTagValueAsync('i4', [1]), -3);
    assert.equal(await drv.ConnectTagAsync('i4'), true);
    const alarms = [];
    await sim.cmd('set PLC1 r4 20');
    assert.equal(await db.SetRtAlarmNotifyAsync((...a) => alarms.push(a[2]), true), 0);
    assert.ok(await waitUntil(() => alarms.length === 1)); // the replay, delivered
    db.Disconnect();
    assert.equal(db.IsConnected(), false);
    assert.equal(await drv.GetTagValueAsync('i4'), undefined);
    assert.ok(await waitUntil(() => states.at(-1) === 'closed'));
    assert.deepEqual(states, ['connecting', 'closed', 'connecting', 'connected', 'closed']);
    assert.throws(() => db.SetAutoReconnect({ maxDelay: -1 }), RangeError);
    assert.throws(() => db.SetAutoReconnect(5), TypeError);
  });

  await t.test('read and write, and their errors', async () => {
    const client = await connect(sim);
    t.after(() => client.close());
    const drv = client.driver('PLC1');
    assert.equal(client.driver('PLC1'), drv);
    await drv.write(['i4', 'r8'], [12, 1.5]);
    assert.deepEqual(await drv.read(['i4', 'nope', 'r8']), [12, undefined, 1.5]);
    assert.equal(await drv.read('i4'), 12);
    await drv.write(['i4'], [13]);
    assert.equal(await drv.read('i4'), 13);
    await assert.rejects(drv.write('i4', null), (e) => e instanceof QxdbError && e.code === -3);
    await assert.rejects(client.driver('Nope').read('x'), /no driver named 'Nope'/);
    assert.throws(() => drv.watch('i4,,r8'), RangeError);
    await assert.rejects(Client.connect(sim.host, 'operator', 'bad'), (e) => e.code === -1);
  });

  await t.test('the event loop runs while a 1000-tag read waits on a stalled server', async () => {
    const client = await connect(sim, { reconnect: false });
    const drv = client.driver('PLC1');
    const names = Array.from({ length: 1000 }, (_, i) => ['i4', 'r8', 'count'][i % 3]);
    await drv.read(names); // names resolved: the read below waits on the read reply alone
    await sim.cmd('fault raw H 48'); // a reply head, then nothing
    const read = drv.read(names);
    read.catch(() => {});
    // Whatever else shares the machine: the best of three windows.
    const worst = [];
    for (let w = 0; w < 3; w++) {
      let last = performance.now();
      let max = 0;
      const timer = setInterval(() => {
        const now = performance.now();
        max = Math.max(max, now - last);
        last = now;
      }, 1);
      await new Promise((r) => setTimeout(r, 200));
      clearInterval(timer);
      worst.push(max);
    }
    assert.ok(Math.min(...worst) < 10, `longest stalls ${worst.join(', ')} ms`);
    await sim.cmd('fault none');
    client.close(); // wakes the read, which fails
    await assert.rejects(read, QxdbError);
  });
});

test('across a dropped connection', async (t) => {
  const sim = await Sim.start();
  t.after(() => sim.stop());

  await t.test('watches and alarms go on by themselves', async () => {
    const client = await connect(sim);
    t.after(() => client.close());
    const drv = client.driver('PLC1');
    const watch = drv.watch(['i4', 'r8']);
    const changes = watch[Symbol.asyncIterator]();
    await watch.ready();
    const alarms = client.alarms();
    await alarms.ready();
    const states = [];
    client.on('state', (s) => states.push(s));
    await sim.cmd('set PLC1 i4 1');
    assert.deepEqual((await changes.next()).value, { driver: 'PLC1', tag: 'i4', value: 1 });
    await sim.cmd('drop');
    assert.ok(await waitUntil(() => states.join() === 'reconnecting,connected'), states.join());
    // The values as they are now, then changes as before.
    const resync = [(await changes.next()).value.tag, (await changes.next()).value.tag];
    assert.deepEqual(resync.sort(), ['i4', 'r8']);
    await sim.cmd('set PLC1 r8 2.5');
    assert.deepEqual((await changes.next()).value, { driver: 'PLC1', tag: 'r8', value: 2.5 });
    await sim.cmd('set PLC1 r4 20');
    const alarm = (await alarms.next()).value;
    assert.deepEqual([alarm.tag, alarm.type, alarm.limit], ['r4', 'High level', 14.5]);
  });

  await t.test('requests fail at once while reconnecting', async () => {
    const client = await connect(sim, { initialDelay: 5000, maxDelay: 5000 });
    t.after(() => client.close());
    const drv = client.driver('PLC1');
    await drv.read('i4');
    const reconnecting = nextEvent(client, 'state');
    await sim.cmd('drop');
    assert.equal(await reconnecting, 'reconnecting');
    const start = performance.now();
    await assert.rejects(drv.read('i4'), /read failed \(reconnecting\)/);
    await assert.rejects(drv.write('i4', 1), QxdbError);
    assert.ok(performance.now() - start < 1000); // not the 5 s pause
  });

  await t.test('a slow consumer under a storm stays bounded', async () => {
    const client = await connect(sim);
    t.after(() => client.close());
    const drv = client.driver('PLC1');
    const cases = [
      // overflow, maxSize, changes: what is kept and counted differs.
      ['coalesce', 100, 200000],
      ['block', 10, 20000],
    ];
    for (const [overflow, maxSize, n] of cases) {
      const watch = drv.watch(['count', 'i4'], { maxSize, overflow });
      const it = watch[Symbol.asyncIterator]();
      await watch.ready();
      let longest = 0;
      const sampler = setInterval(() => (longest = Math.max(longest, watch.length)), 2);
      await sim.cmd(`storm PLC1 count ${n}`);
      await new Promise((r) => setTimeout(r, 100));
      await sim.cmd('set PLC1 i4 3'); // after the storm: the end mark
      const counts = [];
      for (;;) {
        const c = (await it.next()).value;
        if (c.tag === 'i4') break;
        counts.push(c.value);
      }
      clearInterval(sampler);
      watch.close();
      assert.ok(longest <= maxSize + 2, `${overflow}: ${longest} queued`);
      assert.equal(counts.at(-1), n - 1, overflow);
      assert.deepEqual(counts, [...counts].sort((a, b) => a - b), overflow);
      assert.equal(watch.coalesced + counts.length, n, overflow);
      assert.equal(watch.dropped, 0, overflow);
      if (overflow === 'block') assert.equal(counts.length, n); // held back, nothing lost
    }
  });
});
