'use strict';
// Tag changes and alarms on the JavaScript thread, in order and with their
// exact arguments; replay; registrations that stay.
const test = require('node:test');
const assert = require('node:assert/strict');
const { DBCore } = require('../../../index.js');
const { Sim, waitUntil } = require('./sim.js');

const changeMsg = (pos, payload) => {
  const head = Buffer.alloc(4);
  head.writeUInt16LE(0, 0);
  head.writeUInt16LE(pos, 2);
  return Buffer.concat([head, payload]).toString('hex');
};

test('callbacks', async (t) => {
  const sim = await Sim.start();
  t.after(() => sim.stop());
  const connect = () => {
    const db = new DBCore();
    assert.equal(db.Connect(sim.host, 'operator', 'op123'), 0);
    return db;
  };

  await t.test('tag changes, in order, on the JavaScript thread', async () => {
    const db = connect();
    const drv = db.GetDriver('PLC1');
    const calls = [];
    drv.SetTagNotify((...args) => calls.push(args));
    db.GetDriver('PLC1').SetTagNotify(() => assert.fail('a second registration was kept'));
    drv.ConnectTag('count,str,ui4');
    await sim.cmd('set PLC1 count 17');
    await sim.cmd('set PLC1 str Grüße 2');
    await sim.cmd('set PLC1 ui4 4000000000');
    assert.ok(await waitUntil(() => calls.length >= 3));
    assert.deepEqual(calls.slice(0, 3), [
      ['PLC1', 'count', 17], ['PLC1', 'str', 'Grüße 2'], ['PLC1', 'ui4', 4000000000],
    ]);
    calls.length = 0;
    await sim.cmd('storm PLC1 count 20000');
    assert.ok(await waitUntil(() => calls.length >= 20000));
    assert.deepEqual(calls.map((c) => c[2]), Array.from({ length: 20000 }, (_, i) => i));
  });

  await t.test('a change of a tag never connected is not delivered', async () => {
    const db = connect();
    const drv = db.GetDriver('PLC1');
    const calls = [];
    drv.SetTagNotify((...args) => calls.push(args));
    drv.ConnectTag('count');
    await sim.cmd('push ' + changeMsg(6, Buffer.from([1, 0, 0, 0]))); // 'int', never read
    // A read that holds the unframeable change drops the rest of itself: the
    // change of count may share it, so it is sent again until one arrives.
    const sent = [];
    for (let i = 0; i < 50 && calls.length === 0; i++) {
      sent.push(100 + i);
      await sim.cmd(`set PLC1 count ${100 + i}`);
      await waitUntil(() => calls.length >= 1, 100);
    }
    assert.ok(calls.length >= 1);
    for (const [drv, tag, value] of calls) {
      assert.deepEqual([drv, tag], ['PLC1', 'count']); // never 'int'
      assert.ok(sent.includes(value));
    }
  });

  const alarm = (o = {}) => {
    const a = { tid: 9, type: 0, grp: 1, level: 2, status: 1, value: 15, limit: 14.5,
                almtm: 1700000000, evttm: 0, ...o };
    return sim.cmd(`alarm ${a.tid} ${a.type} ${a.grp} ${a.level} ${a.status} ${a.value} ` +
                   `${a.limit} ${a.almtm} ${a.evttm}`);
  };

  await t.test('pushed alarms', async () => {
    const db = connect();
    const calls = [];
    assert.equal(db.SetRtAlarmNotify((...args) => calls.push(args), false), 0);
    assert.equal(db.SetRtAlarmNotify(() => assert.fail('second'), true), -1);
    await alarm();
    await alarm({ tid: 500, type: 77, status: 0, evttm: 1700000100 });
    assert.ok(await waitUntil(() => calls.length >= 2));
    const at = (s) => new Date(s * 1000);
    assert.deepEqual(calls[0], [at(1700000000), at(1700000000), 'r4', 0, 'High level',
                                'Main group', 2, 15, 14.5, 1]);
    assert.deepEqual(calls[1], [at(1700000000), at(1700000100), '???', 1, '???',
                                'Main group', 2, 15, 14.5, 0]);
  });

  await t.test('replay: synchronous and in order', async () => {
    for (const s of [1700000001, 1700000002, 1700000003]) await alarm({ almtm: s });
    const db = connect();
    const seen = [];
    assert.equal(db.SetRtAlarmNotify((almtm) => seen.push(almtm.getTime() / 1000), true), 0);
    assert.deepEqual(seen.slice(-3), [1700000001, 1700000002, 1700000003]);
    const quiet = connect();
    let n = 0;
    assert.equal(quiet.SetRtAlarmNotify(() => n++, false), 0);
    assert.equal(n, 0);
  });

  await t.test('a function is required', () => {
    const db = connect();
    assert.equal(db.SetRtAlarmNotify(42, true), -3);
    assert.equal(db.SetRtAlarmNotify(() => {}, false), 0); // nothing was registered before
  });
});
