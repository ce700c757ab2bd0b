// Compiled against index.d.ts in CI: the whole API as a script uses it.
import { DBCore, Driver, TagValue } from '../../../../index';

const db: DBCore = new DBCore();
const code: number = db.Connect('127.0.0.1:4100', 'operator', 'op123');
const drv: Driver | undefined = db.GetDriver('PLC1');
db.KeepALive();
if (drv !== undefined) {
  drv.SetTagNotify((driver: string, tag: string, value: TagValue | undefined) => {
    console.log(driver, tag, value);
  });
  drv.ConnectTag('Tank1.Level,Pump1.Speed');
  const one = drv.GetTagValue('Pump1.Speed');
  const many = drv.GetTagValue('Tank1.Level,Pump1.Run');
  const sent: number = drv.SetTagValue('Pump1.Mode', 'manual') + drv.SetTagValue('a,b', [1, true]);
  console.log(code, one, many, sent);
}
const sub: number = db.SetRtAlarmNotify(
  (almtm: Date, evttm: Date, tag: string, hasEvent: number, type: string, group: string,
   level: number, value: number, limit: number, status: number) => {
    console.log(almtm.toISOString(), evttm, tag, hasEvent, type, group, level, value, limit, status);
  },
  true,
);
console.log(sub);
