"""Stream: a bounded queue from the connection's receive thread to one
asynchronous consumer, with an explicit overflow policy.

Producers put from any thread; the consumer runs on the event loop. Memory
stays bounded whatever the consumer does:

- "coalesce": when full, only the newest item of each key is kept (for tag
  changes the key is the tag), so the latest state is never lost; the queue
  then holds at most maxsize items plus one per key.
- "drop-oldest": when full, the oldest item makes room.
- "block": when full, the producer waits for room, which holds back the
  receive thread and, through TCP, the server.

coalesced and dropped count the items given up.
"""

import asyncio
import collections
import threading
from typing import Any, Callable, Deque, Dict, Generic, Hashable, List, Optional, TypeVar

T = TypeVar("T")

POLICIES = ("coalesce", "drop-oldest", "block")


def _release(fut: "asyncio.Future[None]") -> None:
    if not fut.done():
        fut.set_result(None)


class Stream(Generic[T]):
    """Async iterator over the items put, in order (see the module doc)."""

    def __init__(self, loop: asyncio.AbstractEventLoop, maxsize: int, overflow: str,
                 key: Optional[Callable[[T], Hashable]] = None) -> None:
        if overflow not in POLICIES:
            raise ValueError("overflow must be one of %s, not %r" % (", ".join(POLICIES), overflow))
        if overflow == "coalesce" and key is None:
            raise ValueError("this stream cannot coalesce: its items have no key")
        if maxsize < 1:
            raise ValueError("maxsize must be at least 1")
        self.maxsize = maxsize
        self.overflow = overflow
        self.coalesced = 0
        self.dropped = 0
        self._loop = loop
        self._key = key
        self._lock = threading.Lock()
        self._room_cv = threading.Condition(self._lock)
        self._blocked = False  # a producer waits for room
        self._items: Deque[T] = collections.deque()
        self._taken: Deque[T] = collections.deque()  # the consumer's, read without the lock
        # Coalesce: once full, the newest item of each key, in first-seen
        # order. Everything in _items came before everything here, so each
        # key's items still arrive in order and its newest arrives last.
        self._over: Dict[Hashable, T] = {}
        self._waiter: Optional["asyncio.Future[None]"] = None
        self._closed = False
        self._error: Optional[BaseException] = None
        self._setup: Optional["asyncio.Future[Any]"] = None  # the request that feeds it

    async def ready(self) -> None:
        """Waits until the stream is fed (its tags advised, its alarms
        subscribed): what happens from then on arrives. Raises what made
        that request fail."""
        if self._setup is not None:
            await asyncio.shield(self._setup)

    # Producer side: any thread.

    def _room(self) -> int:
        return self.maxsize - len(self._items) - len(self._taken)

    def put_many(self, items: List[T]) -> None:
        with self._lock:
            if self._closed:
                return
            queue = self._items
            if not self._over and len(items) <= self._room():
                queue.extend(items)
            elif self.overflow == "coalesce":
                key = self._key
                over = self._over
                for item in items:
                    if not over and self._room() > 0:
                        queue.append(item)
                        continue
                    k = key(item)  # type: ignore[misc]
                    if k in over:
                        self.coalesced += 1
                    over[k] = item
            elif self.overflow == "drop-oldest":
                for item in items:
                    if self._room() <= 0:
                        if queue:
                            queue.popleft()
                        else:
                            self._taken.popleft()  # the consumer has not read it yet
                        self.dropped += 1
                    queue.append(item)
            else:
                for item in items:
                    while self._room() <= 0 and not self._closed:
                        self._wake_locked()
                        self._blocked = True
                        self._room_cv.wait(0.1)  # the interpreter lock is let go meanwhile
                    if self._closed:
                        return
                    queue.append(item)
            self._wake_locked()

    def put(self, item: T) -> None:
        self.put_many([item])

    def close(self, error: Optional[BaseException] = None, discard: bool = False) -> None:
        """Ends the stream: the consumer gets what is queued (nothing with
        discard), then error if given, else the end of the iteration."""
        with self._lock:
            if self._closed:
                return
            self._closed = True
            self._error = error
            if discard:
                self._items.clear()
                self._taken.clear()
                self._over.clear()
            self._room_cv.notify_all()
            self._wake_locked()

    @property
    def closed(self) -> bool:
        return self._closed

    def __len__(self) -> int:
        with self._lock:
            return len(self._items) + len(self._taken) + len(self._over)

    def _wake_locked(self) -> None:
        fut = self._waiter
        if fut is None:
            return
        self._waiter = None
        try:
            self._loop.call_soon_threadsafe(_release, fut)
        except RuntimeError:
            pass  # the loop has closed: nobody waits any more

    # Consumer side: the event loop. Items move to _taken a whole queue at
    # a time, so that most reads take no lock; they still count against
    # maxsize until read.

    def _refill_locked(self) -> bool:
        if self._items:
            self._items, self._taken = self._taken, self._items
        elif self._over:
            self._taken.extend(self._over.values())
            self._over.clear()
        else:
            return False
        return True

    def _after_read(self) -> None:
        if self._blocked:
            with self._lock:
                self._blocked = False
                self._room_cv.notify_all()

    async def get(self) -> T:
        """The next item; StopAsyncIteration once closed and drained."""
        while True:
            if self._taken:
                try:
                    item = self._taken.popleft()
                except IndexError:  # dropped for room meanwhile
                    continue
                if self._blocked:
                    self._after_read()
                return item
            with self._lock:
                if self._refill_locked():
                    continue
                if self._closed:
                    if self._error is not None:
                        raise self._error
                    raise StopAsyncIteration
                fut = self._waiter = self._loop.create_future()
            await fut

    async def batch(self) -> List[T]:
        """Everything queued, at least one item (waits for it)."""
        out = [await self.get()]
        with self._lock:
            while self._taken or self._refill_locked():
                out.extend(self._taken)
                self._taken.clear()
        self._after_read()
        return out

    def __aiter__(self) -> "Stream[T]":
        return self

    __anext__ = get
