'use strict';
// Stream: a bounded queue of deliveries for one asynchronous consumer, with
// an explicit overflow policy. Memory stays bounded whatever the consumer
// does:
//   'coalesce'     when full, only the newest item of each key is kept (for
//                  tag changes the key is the tag): the latest state is never
//                  lost; at most maxSize items plus one per key wait.
//   'drop-oldest'  when full, the oldest item makes room.
//   'block'        when full, onFull is called (the client then holds the
//                  deliveries back, up to the receive thread and the server)
//                  and onRoom once there is room again.
// coalesced and dropped count the items given up.

const POLICIES = ['coalesce', 'drop-oldest', 'block'];

class Stream {
  constructor({ maxSize = 1000, overflow = 'coalesce', key, onFull, onRoom } = {}) {
    if (!POLICIES.includes(overflow)) {
      throw new RangeError(`overflow must be one of ${POLICIES.join(', ')}, not ${overflow}`);
    }
    if (overflow === 'coalesce' && typeof key !== 'function') {
      throw new TypeError('this stream cannot coalesce: its items have no key');
    }
    if (!Number.isInteger(maxSize) || maxSize < 1) {
      throw new RangeError('maxSize must be a whole number of at least 1');
    }
    this.maxSize = maxSize;
    this.overflow = overflow;
    this.coalesced = 0;
    this.dropped = 0;
    this._key = key;
    this._onFull = onFull;
    this._onRoom = onRoom;
    this._items = [];
    this._head = 0;
    // Coalesce: once full, the newest item of each key. Everything in
    // _items came before everything here, so each key's newest comes last.
    this._over = new Map();
    this._waiter = null;
    this._closed = false;
    this._error = null;
    this._full = false;
  }

  get length() {
    return this._items.length - this._head + this._over.size;
  }

  get closed() {
    return this._closed;
  }

  put(item) {
    if (this._closed) return;
    const queued = this._items.length - this._head;
    if (this.overflow === 'coalesce' && (this._over.size > 0 || queued >= this.maxSize)) {
      const k = this._key(item);
      if (this._over.has(k)) this.coalesced++;
      this._over.set(k, item);
    } else {
      if (this.overflow === 'drop-oldest' && queued >= this.maxSize) {
        this._shift();
        this.dropped++;
      }
      this._items.push(item);
      if (this.overflow === 'block' && !this._full && queued + 1 >= this.maxSize) {
        this._full = true;
        if (this._onFull) this._onFull();
      }
    }
    this._wake();
  }

  // Ends the stream: the consumer gets what is queued (nothing with
  // discard), then error if given, else the end.
  close(error = null, discard = false) {
    if (this._closed) return;
    this._closed = true;
    this._error = error;
    if (discard) {
      this._items = [];
      this._head = 0;
      this._over.clear();
    }
    this._roomAgain();
    this._wake();
  }

  // The next item: { value, done } as async iterators give it.
  next() {
    if (this.length > 0) return Promise.resolve({ value: this._pop(), done: false });
    if (this._closed) {
      return this._error ? Promise.reject(this._error) : Promise.resolve({ value: undefined, done: true });
    }
    return new Promise((resolve, reject) => {
      this._waiter = { resolve, reject };
    });
  }

  return() {
    this.close(null, true);
    return Promise.resolve({ value: undefined, done: true });
  }

  [Symbol.asyncIterator]() {
    return this;
  }

  _shift() {
    const item = this._items[this._head];
    this._items[this._head++] = undefined;
    if (this._head > 1024 && this._head * 2 > this._items.length) {
      this._items = this._items.slice(this._head);
      this._head = 0;
    }
    return item;
  }

  _pop() {
    let item;
    if (this._items.length > this._head) {
      item = this._shift();
    } else {
      const [k, v] = this._over.entries().next().value;
      this._over.delete(k);
      item = v;
    }
    if (this._full && this._items.length - this._head < this.maxSize) this._roomAgain();
    return item;
  }

  _roomAgain() {
    if (!this._full) return;
    this._full = false;
    if (this._onRoom) this._onRoom();
  }

  _wake() {
    const w = this._waiter;
    if (!w) return;
    if (this.length > 0) {
      this._waiter = null;
      w.resolve({ value: this._pop(), done: false });
    } else if (this._closed) {
      this._waiter = null;
      if (this._error) w.reject(this._error);
      else w.resolve({ value: undefined, done: true });
    }
  }
}

module.exports = { Stream, POLICIES };
