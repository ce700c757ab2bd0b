// Types of the qxdbaccess addon: a client of a real-time process database
// server. The plain methods run on the JavaScript thread and block it for
// their network exchange; the ...Async methods and the Client run it on a
// libuv worker thread instead, one at a time per connection. Callbacks run
// on the JavaScript thread as changes and alarms arrive.

/** The EventEmitter methods the Client and its watches offer (they are
 * Node's EventEmitters), typed by their events. */
interface Emitter<Events extends Record<string, unknown[]>> {
  on<E extends keyof Events & string>(event: E, listener: (...args: Events[E]) => void): this;
  once<E extends keyof Events & string>(event: E, listener: (...args: Events[E]) => void): this;
  off<E extends keyof Events & string>(event: E, listener: (...args: Events[E]) => void): this;
  listenerCount(event: keyof Events & string): number;
}

/** A tag value as scripts see it. */
export type TagValue = number | string | boolean;

/** A tag changed: the driver's name, the tag's name and its new value
 * (undefined for a type without a JavaScript form). */
export type TagNotify = (driver: string, tag: string, value: TagValue | undefined) => void;

/** A real-time alarm. evttm is almtm when the alarm has no event time, and
 * hasEvent is then 0. Texts that the project's lists lack are "???". */
export type RtAlarmNotify = (
  almtm: Date,
  evttm: Date,
  tag: string,
  hasEvent: number,
  type: string,
  group: string,
  level: number,
  value: number,
  limit: number,
  status: number,
) => void;

/** One I/O driver of a connected DBCore, made by DBCore.GetDriver. Its
 * functions work detached from the object, and keep their DBCore alive. */
export interface Driver {
  /** Registers fn for changes of the driver's advised tags. The first
   * registration of a driver stays; anything but a function registers
   * nothing. */
  SetTagNotify(fn: TagNotify): undefined;
  /** Advises the comma-separated tags (names: at most 2047 bytes). */
  ConnectTag(tags: string): undefined;
  /** One name: its value, undefined when it did not resolve or the read
   * failed. Several names: an array with one element per name, empty
   * where a name did not resolve or the value has no JavaScript form. */
  GetTagValue(tags: string): TagValue | Array<TagValue | undefined> | undefined;
  /** One name takes one value, several names an array (element i for name
   * i). Numbers travel as VT_R8, booleans as VT_BOOL, strings as text cut
   * to 127 bytes. 0 sent (or no names); -1 no write right; -2 resolving or
   * sending failed; -3 a value of another type, the single name did not
   * resolve, several names without a long enough array, or fewer than two
   * arguments. */
  SetTagValue(tags: string, values: TagValue | TagValue[]): number;
  /** ConnectTag off the JavaScript thread: true when the request succeeded. */
  ConnectTagAsync(tags: string): Promise<boolean>;
  /** GetTagValue off the JavaScript thread, with the same results. */
  GetTagValueAsync(tags: string): Promise<TagValue | Array<TagValue | undefined> | undefined>;
  /** SetTagValue off the JavaScript thread (the values are read now), with
   * the same codes. */
  SetTagValueAsync(tags: string, values: TagValue | TagValue[]): Promise<number>;
}

/** The connection's state. */
export type State = 'unconnected' | 'connecting' | 'connected' | 'reconnecting' | 'closed';

/** How a lost connection is restored: after initialDelay ms, then pauses
 * doubling up to maxDelay ms, each scaled by a random 0.8 to 1, at most
 * maxAttempts times per loss (0: until it succeeds). */
export interface ReconnectSettings {
  /** Default true. */
  enabled?: boolean;
  /** Default 500. */
  initialDelay?: number;
  /** Default 30000. */
  maxDelay?: number;
  /** Default 0. */
  maxAttempts?: number;
  /** Deliver the active alarms again once back. Default false. */
  replayAlarms?: boolean;
}

export class DBCore {
  /** A new, unconnected DBCore; also callable without new. */
  constructor();
  /** host "ADDRESS[:PORT]" (at most 127 bytes), user and password (at most
   * 35 bytes each). 0 connected; -1 login refused; -2 server unreachable,
   * or handshake, synchronisation or login exchange failed; -3 no project
   * name, an unknown login reply, or fewer than three arguments. */
  Connect(host: string, user: string, password: string): number;
  /** Does nothing; kept for scripts that call it. */
  KeepALive(): undefined;
  /** A new driver object, or undefined when not connected or the project
   * has no such driver. */
  GetDriver(name: string): Driver | undefined;
  /** Subscribes fn to real-time alarms; with notifyExisting the active ones
   * are delivered first, before the call returns. 0 subscribed; -1 a
   * callback is registered already; -2 the exchange failed; -3 fn is not a
   * function, or fewer than two arguments. */
  SetRtAlarmNotify(fn: RtAlarmNotify, notifyExisting: boolean): number;
  /** Connect off the JavaScript thread, with the same codes. */
  ConnectAsync(host: string, user: string, password: string): Promise<number>;
  /** GetDriver off the JavaScript thread. */
  GetDriverAsync(name: string): Promise<Driver | undefined>;
  /** SetRtAlarmNotify off the JavaScript thread; the replay of the active
   * alarms reaches fn through the deliveries, before later alarms. */
  SetRtAlarmNotifyAsync(fn: RtAlarmNotify, notifyExisting: boolean): Promise<number>;
  /** Ends the connection (and a reconnect under way). Driver objects then
   * fail their calls, as after a lost connection. */
  Disconnect(): undefined;
  /** True while the connection is up: false as soon as the server has gone,
   * a reply was cut short or late, or Disconnect was called. */
  IsConnected(): boolean;
  /** Why the last connect, request or reconnect failed; "" before any. */
  LastError(): string;
  GetState(): State;
  /** Registers fn for every change of state; the first registration stays.
   * True when fn was registered. */
  SetStateNotify(fn: (state: State) => void): boolean;
  /** With no argument: enabled with the defaults. Once restored, the same
   * driver objects work again, advised tags are advised again (their
   * current values reach their callback), and the alarm callback is
   * subscribed again. Meanwhile calls fail at once. Throws RangeError for
   * a negative setting. */
  SetAutoReconnect(settings?: ReconnectSettings): undefined;
  /** Holds deliveries back (they wait, and once 64 reads wait the receive
   * thread and the server wait too) until ResumeDelivery. */
  PauseDelivery(): undefined;
  ResumeDelivery(): undefined;
}

/** What a full stream does: keep the newest item of each key, drop the
 * oldest item, or hold deliveries back. */
export type Overflow = 'coalesce' | 'drop-oldest' | 'block';
export const POLICIES: Overflow[];

export interface StreamOptions {
  /** Default 1000. */
  maxSize?: number;
  overflow?: Overflow;
}

/** A bounded queue of deliveries for one consumer. */
export class Stream<T> implements AsyncIterableIterator<T> {
  constructor(options?: StreamOptions & {
    key?: (item: T) => unknown;
    onFull?: () => void;
    onRoom?: () => void;
  });
  readonly maxSize: number;
  readonly overflow: Overflow;
  /** Items replaced by a newer one of the same key. */
  readonly coalesced: number;
  /** Items dropped to make room. */
  readonly dropped: number;
  readonly length: number;
  readonly closed: boolean;
  put(item: T): void;
  close(error?: Error | null, discard?: boolean): void;
  next(): Promise<IteratorResult<T>>;
  return(): Promise<IteratorResult<T>>;
  [Symbol.asyncIterator](): AsyncIterableIterator<T>;
}

export interface TagChange {
  driver: string;
  tag: string;
  value: TagValue | undefined;
}

export interface Alarm {
  time: Date;
  eventTime: Date;
  tag: string;
  hasEvent: number;
  type: string;
  group: string;
  level: number;
  value: number;
  limit: number;
  status: number;
}

/** A failed request; code is the native result when there is one. */
export class QxdbError extends Error {
  code: number | undefined;
}

/** The changes of some tags of one driver: 'change' events, and an async
 * iterable over a bounded stream (by default 1000 changes, coalesced). */
export interface Watch extends Emitter<{ change: [TagChange]; error: [Error] }> {}
export class Watch implements AsyncIterable<TagChange> {
  readonly driver: ClientDriver;
  readonly tags: string[];
  readonly coalesced: number;
  readonly dropped: number;
  readonly length: number;
  /** Resolves once the tags are advised. */
  ready(): Promise<void>;
  close(): void;
  [Symbol.asyncIterator](): AsyncIterableIterator<TagChange>;
}

export class ClientDriver {
  readonly name: string;
  /** One value for one name given as a string, else an array. */
  read(tags: string | string[]): Promise<any>;
  write(tags: string | string[], values: TagValue | TagValue[]): Promise<void>;
  watch(tags: string | string[], options?: StreamOptions): Watch;
}

export interface ClientOptions extends Omit<ReconnectSettings, 'enabled'> {
  /** Default true. */
  reconnect?: boolean;
  /** The first alarm listener or stream gets the active alarms first.
   * Default true. */
  existingAlarms?: boolean;
}

export interface Client extends Emitter<{ state: [State]; alarm: [Alarm] }> {}
export class Client {
  static connect(host: string, user: string, password: string, options?: ClientOptions): Promise<Client>;
  readonly state: State;
  readonly connected: boolean;
  readonly lastError: string;
  driver(name: string): ClientDriver;
  /** A stream of alarms (by default 1000, blocking when full). */
  alarms(options?: StreamOptions): Stream<Alarm>;
  close(): void;
}
