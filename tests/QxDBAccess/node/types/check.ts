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

// The additions: state, reconnect, the promise methods and the Client.
import { Client, ClientDriver, Watch, TagChange, Alarm, State, QxdbError } from '../../../../index';

async function useAsync(): Promise<void> {
  const connected: boolean = db.IsConnected();
  const why: string = db.LastError();
  const state: State = db.GetState();
  db.SetStateNotify((s: State) => console.log(s));
  db.SetAutoReconnect({ initialDelay: 100, maxDelay: 5000, maxAttempts: 10, replayAlarms: true });
  const code2: number = await db.ConnectAsync('127.0.0.1:4100', 'operator', 'op123');
  const d2: Driver | undefined = await db.GetDriverAsync('PLC1');
  if (d2 !== undefined) {
    const ok: boolean = await d2.ConnectTagAsync('a');
    const v = await d2.GetTagValueAsync('a');
    const w: number = await d2.SetTagValueAsync('a', 1);
    console.log(ok, v, w);
  }
  db.Disconnect();
  console.log(connected, why, state, code2);

  const client: Client = await Client.connect('127.0.0.1:4100', 'operator', 'op123', {
    reconnect: true,
    maxDelay: 10000,
  });
  client.on('state', (s: State) => console.log(s));
  client.on('alarm', (a: Alarm) => console.log(a.tag, a.time.getTime(), a.limit));
  const drv2: ClientDriver = client.driver('PLC1');
  const value = await drv2.read('i4');
  await drv2.write(['i4', 'r8'], [1, 2.5]);
  const watch: Watch = drv2.watch(['i4'], { maxSize: 100, overflow: 'coalesce' });
  await watch.ready();
  watch.on('change', (c: TagChange) => console.log(c.tag, c.value));
  for await (const change of watch) {
    console.log(change.driver, change.value, watch.coalesced, watch.dropped);
    break;
  }
  for await (const alarm of client.alarms({ overflow: 'block' })) console.log(alarm.status);
  try {
    await drv2.write('i4', 'x');
  } catch (e) {
    if (e instanceof QxdbError) console.log(e.code);
  }
  console.log(value, client.state, client.connected, client.lastError);
  client.close();
}
void useAsync;
