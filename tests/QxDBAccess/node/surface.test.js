'use strict';
// The class and its methods: names, attributes, argument counts and the
// error rule; driver objects and their detached functions.
const test = require('node:test');
const assert = require('node:assert/strict');
const { DBCore } = require('../../../index.js');
const { Sim } = require('./sim.js');
const { execFileSync } = require('child_process');
const path = require('path');

test('the class, with and without new', () => {
  assert.equal(DBCore.name, 'DBCore');
  for (const db of [new DBCore(), DBCore(), new DBCore(1, 2, 3)]) {
    assert.ok(db instanceof DBCore);
    assert.equal(db.GetDriver('PLC1'), undefined); // unconnected: no drivers
  }
  for (const name of ['Connect', 'KeepALive', 'GetDriver', 'SetRtAlarmNotify']) {
    const d = Object.getOwnPropertyDescriptor(DBCore.prototype, name);
    assert.equal(typeof d.value, 'function', name);
    assert.deepEqual([d.writable, d.enumerable, d.configurable], [false, false, false], name);
  }
});

test('argument counts and the error rule', () => {
  const db = new DBCore();
  assert.equal(db.KeepALive(1, 2), undefined);
  assert.equal(db.Connect('127.0.0.1', 'user'), -3);
  assert.equal(db.SetRtAlarmNotify(() => {}), -3);
  assert.equal(db.GetDriver(), undefined);
  const cases = [
    [() => db.Connect(1, 'u', 'p'), 'A string was expected'],
    [() => db.Connect('h', 'u', {}), 'A string was expected'],
    [() => db.GetDriver(42), 'A string was expected'],
    [() => db.SetRtAlarmNotify(() => {}, 'yes'), 'A boolean was expected'],
  ];
  for (const [fn, message] of cases) assert.throws(fn, { name: 'Error', message });
  // The engine itself refuses a this that is no DBCore.
  assert.throws(() => DBCore.prototype.Connect.call({}, 'h', 'u', 'p'), TypeError);
  // Nothing listens on port 1 of loopback.
  assert.equal(db.Connect('127.0.0.1:1', 'u', 'p'), -2);
});

test('against the simulator', async (t) => {
  const sim = await Sim.start();
  t.after(() => sim.stop());

  await t.test('connect codes', () => {
    const db = new DBCore();
    assert.equal(db.Connect(sim.host, 'operator', 'wrong'), -1);
    assert.equal(db.Connect(sim.host, 'operator', 'op123'), 0);
    // Credentials are cut to 35 bytes: a longer password is refused.
    assert.equal(db.Connect(sim.host, 'operator', 'op123' + 'x'.repeat(40)), -1);
  });

  await t.test('driver objects', () => {
    const db = new DBCore();
    assert.equal(db.Connect(sim.host, 'operator', 'op123'), 0);
    const a = db.GetDriver('PLC1');
    const b = db.GetDriver('PLC1');
    assert.notEqual(a, b);
    assert.deepEqual(Object.keys(a), []); // non-enumerable functions only
    for (const name of ['SetTagNotify', 'ConnectTag', 'GetTagValue', 'SetTagValue']) {
      const d = Object.getOwnPropertyDescriptor(a, name);
      assert.equal(typeof d.value, 'function');
      assert.deepEqual([d.writable, d.enumerable, d.configurable], [false, false, false]);
    }
    assert.equal(db.GetDriver('Nope'), undefined);
    // Both act on the one driver; a detached function keeps working.
    const set = a.SetTagValue;
    assert.equal(set('count', 5), 0);
    assert.equal(b.GetTagValue('count'), 5);
    assert.equal(a.ConnectTag('count'), undefined);
    assert.equal(a.ConnectTag('nope'), undefined);
    assert.equal(a.GetTagValue(), undefined);
    assert.equal(a.SetTagValue('count'), -3);
    assert.throws(() => a.GetTagValue(7), { message: 'A string was expected' });
  });
});

test('loads from an ES module, by import and through createRequire', () => {
  const index = path.join(__dirname, '..', '..', '..', 'index.js');
  const code = `
    import { DBCore } from ${JSON.stringify(index)};
    import { createRequire } from 'module';
    const required = createRequire(import.meta.url)(${JSON.stringify(index)});
    console.log(new DBCore() instanceof required.DBCore);
  `;
  const out = execFileSync(process.execPath, ['--input-type=module', '-e', code],
                           { encoding: 'utf8', timeout: 10000 });
  assert.equal(out.trim(), 'true');
});
