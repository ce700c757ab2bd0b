'use strict';
// Client: the asynchronous API over the addon. Every network exchange runs
// off the JavaScript thread (the addon's ...Async methods: libuv work, one
// at a time per connection); changes, alarms and state changes arrive as
// events and through bounded streams (stream.js).
const { EventEmitter } = require('events');
const { Stream } = require('./stream.js');

class QxdbError extends Error {
  constructor(message, code) {
    super(message);
    this.name = 'QxdbError';
    this.code = code;
  }
}

const WRITE_FAILURES = {
  '-1': 'the user has no write right',
  '-2': 'the names did not resolve or the request could not be sent',
  '-3': 'a value does not convert, or the single name did not resolve',
};

function toNames(tags) {
  const names = (typeof tags === 'string' ? tags.split(',') : Array.from(tags)).map((n) =>
    String(n).trim(),
  );
  if (names.length === 0 || names.some((n) => n === '' || n.includes(','))) {
    throw new RangeError(`tag names must be non-empty and hold no comma: ${tags}`);
  }
  return names;
}

// The changes of some tags of one driver: 'change' events, and an async
// iterable over a bounded stream (created on first iteration). close()
// stops it; the tags stay advised.
class Watch extends EventEmitter {
  constructor(driver, names, options) {
    super();
    this.driver = driver;
    this.tags = names;
    this._stream = new Stream({
      maxSize: options.maxSize ?? 1000,
      overflow: options.overflow ?? 'coalesce',
      key: (c) => c.tag,
      onFull: () => driver._client._hold(+1),
      onRoom: () => driver._client._hold(-1),
    });
    this._iterating = false;
    this._ready = null;
  }

  get coalesced() {
    return this._stream.coalesced;
  }

  get dropped() {
    return this._stream.dropped;
  }

  get length() {
    return this._stream.length;
  }

  // Resolves once the tags are advised: changes from then on arrive.
  ready() {
    return this._ready;
  }

  close() {
    this.driver._client._unroute(this);
    this._stream.close(null, true);
  }

  [Symbol.asyncIterator]() {
    this._iterating = true;
    return this._stream;
  }

  _push(change) {
    if (this._iterating) this._stream.put(change);
    this.emit('change', change);
  }

  _fail(error) {
    this._stream.close(error);
    if (this.listenerCount('error') > 0) this.emit('error', error);
  }
}

class Driver {
  constructor(client, name) {
    this._client = client;
    this.name = name;
    this._nativeP = null;
  }

  _native() {
    if (!this._nativeP) {
      this._nativeP = this._client._db.GetDriverAsync(this.name).then((drv) => {
        if (!drv) {
          this._nativeP = null; // try again next time
          throw new QxdbError(`no driver named '${this.name}' (not connected, or not in the project)`);
        }
        drv.SetTagNotify((d, t, v) => this._client._onChange(d, t, v));
        return drv;
      });
    }
    return this._nativeP;
  }

  // One value for one name given as a string, else an array (undefined
  // where a name did not resolve or a value has no JavaScript form).
  async read(tags) {
    const names = toNames(tags);
    const drv = await this._native();
    // A trailing blank field makes the answer an array even for one name,
    // so that undefined means a failed request only.
    const v = await drv.GetTagValueAsync(names.join(',') + ', ');
    if (v === undefined) {
      throw new QxdbError(`read failed (${this._client.state}): ${this._client.lastError}`);
    }
    const values = names.map((_, i) => v[i]);
    return typeof tags === 'string' && names.length === 1 ? values[0] : values;
  }

  // One value for one name, else an array with one per name. Rejects with
  // the native code: -1 no write right, -2 the names did not resolve or
  // sending failed, -3 a value that does not convert.
  async write(tags, values) {
    const names = toNames(tags);
    const arg = names.length === 1 && typeof tags !== 'string' && Array.isArray(values) ? values[0] : values;
    const drv = await this._native();
    const code = await drv.SetTagValueAsync(names.join(','), arg);
    if (code !== 0) {
      let why = WRITE_FAILURES[code] || 'unknown result';
      if (code === -2) why += ` (${this._client.lastError})`;
      throw new QxdbError(`write failed (${code}): ${why}`, code);
    }
  }

  watch(tags, options = {}) {
    const names = toNames(tags);
    const w = new Watch(this, names, options);
    this._client._route(w);
    w._ready = (async () => {
      // An advise cut off by a lost connection is made again once the
      // connection is back: the core restores only what was advised.
      for (let tries = 1; ; tries++) {
        const drv = await this._native();
        if (await drv.ConnectTagAsync(names.join(','))) return;
        if (tries === 3 || !(await this._client._backAgain())) {
          throw new QxdbError(`advise failed: ${this._client.lastError}`);
        }
      }
    })();
    w._ready.catch((e) => w._fail(e));
    return w;
  }
}

// Events: 'state' (the new state's name), 'alarm' (an alarm object; the
// first listener subscribes). Streams: alarms().
class Client extends EventEmitter {
  // Connects; with reconnect (the default) a lost connection is restored by
  // itself: after initialDelay ms, then pauses doubling up to maxDelay,
  // each scaled by a random 0.8 to 1, at most maxAttempts times (0: for as
  // long as it takes). Rejects with a QxdbError carrying the native code.
  static async connect(host, user, password, options = {}) {
    const client = new Client(options);
    const code = await client._db.ConnectAsync(host, user, password);
    if (code !== 0) {
      const error = new QxdbError(`connect failed (${code}): ${client.lastError}`, code);
      client._db.Disconnect();
      throw error;
    }
    return client;
  }

  constructor(options = {}) {
    super();
    const { DBCore } = require('../index.js');
    this._db = new DBCore();
    this._db.SetAutoReconnect({
      enabled: options.reconnect !== false,
      initialDelay: options.initialDelay ?? 500,
      maxDelay: options.maxDelay ?? 30000,
      maxAttempts: options.maxAttempts ?? 0,
      replayAlarms: Boolean(options.replayAlarms),
    });
    this._existingAlarms = options.existingAlarms !== false;
    this._db.SetStateNotify((s) => this.emit('state', s));
    this._drivers = new Map();
    this._routes = new Map(); // driver -> tag -> watches
    this._alarmStreams = new Set();
    this._alarmsP = null;
    this._held = 0;
    this._closed = false;
    this.on('newListener', (event) => {
      if (event === 'alarm') this._subscribeAlarms();
    });
  }

  // 'unconnected', 'connecting', 'connected', 'reconnecting' or 'closed'.
  get state() {
    return this._db.GetState();
  }

  get connected() {
    return this._db.IsConnected();
  }

  get lastError() {
    return this._db.LastError();
  }

  driver(name) {
    let drv = this._drivers.get(name);
    if (!drv) {
      drv = new Driver(this, name);
      this._drivers.set(name, drv);
    }
    return drv;
  }

  // A stream of alarms (the default policy: block); its ready() resolves
  // once the alarms are subscribed.
  alarms(options = {}) {
    const s = new Stream({
      maxSize: options.maxSize ?? 1000,
      overflow: options.overflow ?? 'block',
      key: options.key,
      onFull: () => this._hold(+1),
      onRoom: () => this._hold(-1),
    });
    this._alarmStreams.add(s);
    const subscribed = this._subscribeAlarms();
    subscribed.catch((e) => s.close(e));
    s.ready = () => subscribed;
    return s;
  }

  // Disconnects and ends every stream; calling it again does nothing.
  close() {
    if (this._closed) return;
    this._closed = true;
    for (const tags of this._routes.values()) {
      for (const ws of tags.values()) for (const w of ws) w._stream.close();
    }
    for (const s of this._alarmStreams) s.close();
    this._db.Disconnect();
  }

  _subscribeAlarms() {
    if (!this._alarmsP) {
      const onAlarm = (time, eventTime, tag, hasEvent, type, group, level, value, limit, status) => {
        const alarm = { time, eventTime, tag, hasEvent, type, group, level, value, limit, status };
        for (const s of this._alarmStreams) s.put(alarm);
        this.emit('alarm', alarm);
      };
      this._alarmsP = (async () => {
        // As with advises: a subscription cut off by a lost connection is
        // made again once it is back (-1: one is registered already).
        for (let tries = 1; ; tries++) {
          const code = await this._db.SetRtAlarmNotifyAsync(onAlarm, this._existingAlarms);
          if (code === 0 || code === -1) return;
          if (tries === 3 || !(await this._backAgain())) {
            this._alarmsP = null;
            throw new QxdbError(`alarm subscription failed (${code}): ${this.lastError}`, code);
          }
        }
      })();
      this._alarmsP.catch(() => {}); // told through the streams
    }
    return this._alarmsP;
  }

  // After a request failed: resolves true once the connection is up (at
  // once when it is), false when it ends closed.
  _backAgain() {
    const s = this.state;
    if (this._closed || s === 'closed' || s === 'unconnected') return Promise.resolve(false);
    if (s === 'connected' && this.connected) return Promise.resolve(true);
    return new Promise((resolve) => {
      const onState = (st) => {
        if (st !== 'connected' && st !== 'closed') return;
        this.off('state', onState);
        resolve(st === 'connected');
      };
      this.on('state', onState);
    });
  }

  _onChange(driver, tag, value) {
    const ws = this._routes.get(driver)?.get(tag);
    if (!ws) return;
    const change = { driver, tag, value };
    for (const w of ws) w._push(change);
  }

  // A block stream is full (+1) or has room again (-1): while any is full,
  // deliveries are held back, up to the receive thread.
  _hold(delta) {
    this._held += delta;
    if (delta > 0 && this._held === 1) this._db.PauseDelivery();
    if (delta < 0 && this._held === 0) queueMicrotask(() => this._held === 0 && this._db.ResumeDelivery());
  }

  _route(w) {
    let tags = this._routes.get(w.driver.name);
    if (!tags) this._routes.set(w.driver.name, (tags = new Map()));
    for (const t of w.tags) tags.set(t, (tags.get(t) || []).concat([w]));
  }

  _unroute(w) {
    const tags = this._routes.get(w.driver.name);
    if (!tags) return;
    for (const t of w.tags) {
      const rest = (tags.get(t) || []).filter((x) => x !== w);
      if (rest.length) tags.set(t, rest);
      else tags.delete(t);
    }
  }
}

module.exports = { Client, ClientDriver: Driver, Watch, QxdbError };
