'use strict';
// The armhf Node addon under emulation: load, connect to the simulator,
// read a tag, receive a change. usage: node smoke.js ADDON HOST
const { DBCore } = require(process.argv[2]);

const db = new DBCore();
const code = db.Connect(process.argv[3], 'operator', 'op123');
if (code !== 0) throw new Error(`connect failed: ${code}`);
const plc = db.GetDriver('PLC1');
const speed = plc.GetTagValue('Pump1.Speed');
if (typeof speed !== 'number' || speed < 1400 || speed > 1500) throw new Error(`bad read: ${speed}`);
const timer = setTimeout(() => { console.error('no change arrived'); process.exit(1); }, 10000);
plc.SetTagNotify(() => {
  clearTimeout(timer);
  console.log(`node armhf smoke: ok (Pump1.Speed ${speed}, a change of Tank1.Level)`);
  process.exit(0);
});
plc.ConnectTag('Tank1.Level');
