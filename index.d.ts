// Types of the qxdbaccess addon: a client of a real-time process database
// server. Every method runs on the JavaScript thread and blocks it for its
// network exchange; callbacks run on the JavaScript thread as changes and
// alarms arrive.

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
}
