'use strict';
// Values both ways: every type read; every write checked in the bytes the
// simulator received.
const test = require('node:test');
const assert = require('node:assert/strict');
const { DBCore } = require('../../../index.js');
const { Sim } = require('./sim.js');

// A write request as the client must send it: [pos, type, payload]...
function writeRequest(...items) {
  const parts = items.map(([pos, vt, payload]) => {
    const head = Buffer.alloc(6);
    head.writeUInt16LE(0, 0);
    head.writeUInt16LE(pos, 2);
    head.writeUInt16LE(vt, 4);
    return Buffer.concat([head, payload]);
  });
  const count = Buffer.alloc(2);
  count.writeUInt16LE(items.length);
  return Buffer.concat([Buffer.from('g'), count, ...parts]);
}

const f64 = (d) => {
  const b = Buffer.alloc(8);
  b.writeDoubleLE(d);
  return b;
};

test('values', async (t) => {
  const sim = await Sim.start();
  t.after(() => sim.stop());
  const db = new DBCore();
  assert.equal(db.Connect(sim.host, 'operator', 'op123'), 0);
  const drv = db.GetDriver('PLC1');

  await t.test('every type read', async () => {
    await sim.cmd('set PLC1 i1 -1');
    const cases = [
      ['i1', -1], ['ui1', 200], ['i2', -300], ['ui2', 60000], ['i4', -70000],
      ['ui4', 4000000000], ['int', -7], ['uint', 4000000001], ['r4', Math.fround(0.1)],
      ['r8', 21.25], ['bool', true], ['str', 'Grüße 温度'], ['i8', undefined],
      ['date', undefined],
    ];
    for (const [tag, want] of cases) assert.equal(drv.GetTagValue(tag), want, tag);
  });

  await t.test('several names', () => {
    const got = drv.GetTagValue('i4,nope,r8');
    assert.equal(got.length, 3);
    assert.deepEqual([got[0], 1 in got, got[2]], [-70000, false, 21.25]);
    // A value without a script form leaves its element empty, as a name
    // that did not resolve does.
    const withDate = drv.GetTagValue('i4,date');
    assert.deepEqual([withDate.length, withDate[0], 1 in withDate], [2, -70000, false]);
    assert.equal(drv.GetTagValue('nope'), undefined);
  });

  async function write(tags, value, wantResult = 0) {
    const before = await sim.count('g');
    assert.equal(drv.SetTagValue(tags, value), wantResult);
    drv.GetTagValue('i1'); // the request connection keeps its order
    return (await sim.count('g')) - before;
  }

  await t.test('writes travel in the type of the script value', async () => {
    const cases = [
      ['i4', 1, [4, 5, f64(1)]],
      ['i4', -2.5, [4, 5, f64(-2.5)]],
      ['i4', true, [4, 11, Buffer.from([1])]],
      ['i4', false, [4, 11, Buffer.from([0])]],
      ['str', 'abc', [13, 8, Buffer.from('abc\0')]],
      ['str', 'x'.repeat(200), [13, 8, Buffer.from('x'.repeat(127) + '\0')]],
    ];
    for (const [tag, value, item] of cases) {
      assert.equal(await write(tag, value), 1, String(value));
      assert.deepEqual(await sim.lastRequest('g'), writeRequest(item));
    }
    assert.equal(await write('i4,nope,r8', [7, 'skipped', 0.5]), 1);
    assert.deepEqual(await sim.lastRequest('g'),
                     writeRequest([4, 5, f64(7)], [10, 5, f64(0.5)]));
  });

  await t.test('writes refused unsent', async () => {
    const cases = [
      ['i4', null], ['i4', undefined], ['i4', {}], ['i4', [1]], ['i4', 10n],
      ['nope', 1], ['i4,r8', [1]], ['i4,r8', 5], ['i4,r8', [1, null]],
    ];
    for (const [tags, value] of cases) assert.equal(await write(tags, value, -3), 0, tags);
    assert.equal(await write(',,', [1]), 0);
  });

  await t.test('without the write right', () => {
    const viewer = new DBCore();
    assert.equal(viewer.Connect(sim.host, 'viewer', 'view'), 0);
    assert.equal(viewer.GetDriver('PLC1').SetTagValue('i4', 1), -1);
  });
});
