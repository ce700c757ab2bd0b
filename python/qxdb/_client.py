"""The asynchronous connection over the native module QxDBAccess.

Every blocking call runs on the connection's own worker thread, one at a
time (the native module lets go of the interpreter lock while it waits on
the server), so the event loop never waits on the network. Deliveries are
put into bounded streams from the receive thread; a waiting consumer is
woken with call_soon_threadsafe, once per batch.
"""

import asyncio
import concurrent.futures
import functools
import weakref
from typing import (Any, Awaitable, Callable, Dict, Generator, List, Optional, Sequence, Set,
                    Union)

import QxDBAccess

from ._stream import Stream
from ._types import Alarm, Error, TagChange, Value

Tags = Union[str, Sequence[str]]


def _names(tags: Tags) -> List[str]:
    if isinstance(tags, str):
        names = tags.split(",")
    else:
        names = list(tags)
    names = [n.strip() for n in names]
    if not names or any(not n or "," in n for n in names):
        raise ValueError("tag names must be non-empty and hold no comma: %r" % (tags,))
    return names


_WRITE_FAILURES = {
    -1: "the user has no write right",
    -2: "the names did not resolve or the request could not be sent",
    -3: "a value does not convert, or the single name did not resolve",
}


def _tag_of(change: TagChange) -> str:
    return change.tag


class Watch(Stream[TagChange]):
    """The changes of some tags of one driver: an async iterator of
    TagChange, bounded by maxsize with its overflow policy. Closing it (or
    leaving `async with`) stops it; the tags stay advised."""

    def __init__(self, driver: "Driver", names: List[str], maxsize: int, overflow: str) -> None:
        super().__init__(driver._conn._loop, maxsize, overflow, _tag_of)
        self.driver = driver
        self.tags = names

    def close(self, error: Optional[BaseException] = None, discard: bool = True) -> None:
        conn = self.driver._conn_ref()
        if conn is not None:
            conn._unroute(self)
        super().close(error, discard)

    async def __aenter__(self) -> "Watch":
        return self

    async def __aexit__(self, *exc: object) -> None:
        self.close()


class Driver:
    """One driver of the connection, by name. Its native driver is looked up
    on first use; a name the project lacks raises LookupError then."""

    def __init__(self, conn: "Connection", name: str) -> None:
        # Weak: a connection goes (and disconnects) when the script lets it
        # go, whatever drivers and watches remain, as a DBCore does.
        self._conn_ref = weakref.ref(conn)
        self.name = name
        self._native: Optional[QxDBAccess.Driver] = None

    @property
    def _conn(self) -> "Connection":
        conn = self._conn_ref()
        if conn is None:
            raise Error("the connection was let go")
        return conn

    def _get(self) -> QxDBAccess.Driver:  # worker thread
        if self._native is None:
            native = self._conn._db.GetDriver(self.name)
            native.SetTagBatchNotify(self._conn._batch_fn, TagChange)
            self._native = native
        return self._native

    async def read(self, tags: Tags) -> Any:
        """The current values: one value for one name given as a str, else a
        list (None where a name did not resolve or a value has no Python
        form). Raises Error when the request failed."""
        names = _names(tags)
        # A trailing blank field makes the native call answer with a list
        # even for one name, so that None means a failed request only.
        query = ",".join(names) + ", "

        def call() -> Any:
            return self._get().GetTagValue(query)

        values = await self._conn._run(call)
        if values is None:
            raise Error("read failed (%s): %s" % (self._conn.state, self._conn.last_error))
        values = values[:len(names)]
        return values[0] if isinstance(tags, str) and len(names) == 1 else values

    async def write(self, tags: Tags, values: Union[Value, Sequence[Value]]) -> None:
        """Writes values (one for one name, else a sequence, one per name).
        Raises Error with the native code: -1 no write right, -2 the names
        did not resolve or sending failed, -3 a value that does not
        convert."""
        names = _names(tags)
        if len(names) == 1:
            one_item = isinstance(values, (list, tuple)) and not isinstance(tags, str)
            arg: Any = values[0] if one_item else values  # type: ignore[index]
        else:
            arg = list(values)  # type: ignore[arg-type]

        def call() -> int:
            return self._get().SetTagValue(",".join(names), arg)

        code = await self._conn._run(call)
        if code != 0:
            why = _WRITE_FAILURES.get(code, "unknown result")
            if code == -2:
                why += " (%s)" % self._conn.last_error
            raise Error("write failed (%d): %s" % (code, why), code)

    def watch(self, tags: Tags, maxsize: int = 1000, overflow: str = "coalesce") -> Watch:
        """A stream of the changes of these tags, advised now. The first
        failure (no such driver, the advise failed) is raised by the
        iteration."""
        names = _names(tags)
        w = Watch(self, names, maxsize, overflow)
        self._conn._route(w)
        query = ",".join(names)

        async def advise() -> None:
            # An advise cut off by a lost connection is made again once the
            # connection is back: the core restores only what was advised.
            for tries in range(1, 4):
                if await self._conn._run(lambda: self._get().ConnectTag(query)):
                    return
                if tries == 3 or not await self._conn._back_again():
                    raise Error("advise failed: %s" % self._conn.last_error)

        w._setup = self._conn._background(advise(), w)
        return w


def _batch_fn(ref: "weakref.ReferenceType[Connection]", driver: str,
              changes: List[TagChange]) -> None:  # receive thread
    conn = ref()
    if conn is None:
        return
    only = conn._only.get(driver)
    routes = conn._routes.get(driver)
    # Not held while a blocking stream waits for room: the connection may
    # be let go meanwhile, which ends its streams.
    del conn
    if only is not None:
        # One watch has every tag advised on this driver: all of it is its.
        only.put_many(changes)
        return
    if not routes:
        return
    out: Dict[Watch, List[TagChange]] = {}
    for change in changes:
        for w in routes.get(change[1], ()):
            batch = out.get(w)
            if batch is None:
                out[w] = [change]
            else:
                batch.append(change)
    for w, batch in out.items():
        w.put_many(batch)


def _alarm_fn(ref: "weakref.ReferenceType[Connection]", *args: Any) -> None:
    conn = ref()
    if conn is not None:
        streams = list(conn._alarm_streams)
        del conn  # as in _batch_fn
        alarm = Alarm(*args)
        for s in streams:
            s.put(alarm)


def _state_fn(ref: "weakref.ReferenceType[Connection]", state: str) -> None:
    conn = ref()
    if conn is not None:
        for s in list(conn._state_streams):
            s.put(state)


def _end_streams(streams: "weakref.WeakSet[Stream[Any]]") -> None:
    for s in list(streams):
        Stream.close(s)


class Connection:
    """A connection made by connect(). Use it with `async with`, or close()
    it."""

    def __init__(self, loop: asyncio.AbstractEventLoop) -> None:
        self._loop = loop
        self._db = QxDBAccess.DBCore()
        self._worker = concurrent.futures.ThreadPoolExecutor(1, thread_name_prefix="qxdb")
        self._drivers: Dict[str, Driver] = {}
        # driver -> tag -> watches; replaced whole, never changed in place:
        # the receive thread reads it without a lock.
        self._routes: Dict[str, Dict[str, Sequence[Watch]]] = {}
        # driver -> the one watch of it, when it has all the tags ever
        # advised on it (replaced whole as well).
        self._only: Dict[str, Watch] = {}
        self._advised: Dict[str, Set[str]] = {}
        self._alarm_streams: Set[Stream[Alarm]] = set()
        self._state_streams: Set[Stream[str]] = set()
        self._alarm_setup: Optional["asyncio.Future[Any]"] = None
        self._tasks: Set["asyncio.Future[Any]"] = set()
        self._closed = False
        # Every stream, so that they end when this object goes unclosed: a
        # receive thread waiting for room in one must not hold up the
        # disconnect that comes with it.
        self._streams: "weakref.WeakSet[Stream[Any]]" = weakref.WeakSet()
        weakref.finalize(self, _end_streams, self._streams)
        ref = weakref.ref(self)
        self._batch_fn = functools.partial(_batch_fn, ref)
        self._db.SetStateNotify(functools.partial(_state_fn, ref))

    @property
    def state(self) -> str:
        """"unconnected", "connecting", "connected", "reconnecting" or
        "closed", as the connection is now."""
        return self._db.GetState()

    @property
    def connected(self) -> bool:
        return self._db.IsConnected()

    @property
    def last_error(self) -> str:
        """Why the last connect or request failed ("" before any)."""
        return self._db.LastError()

    def driver(self, name: str) -> Driver:
        """The driver of that name (the same object for the same name)."""
        drv = self._drivers.get(name)
        if drv is None:
            drv = self._drivers[name] = Driver(self, name)
        return drv

    def alarms(self, existing: bool = True, maxsize: int = 1000,
               overflow: str = "block") -> Stream[Alarm]:
        """A stream of real-time alarms. With existing, the connection's
        first alarm stream starts with the alarms active now; later streams
        start with the next alarm."""
        s: Stream[Alarm] = Stream(self._loop, maxsize, overflow)
        self._alarm_streams.add(s)
        self._streams.add(s)
        if self._alarm_setup is None:
            fn = functools.partial(_alarm_fn, weakref.ref(self))

            async def subscribe() -> None:
                # As with advises: a subscription cut off by a lost connection
                # is made again once it is back (a second one that finds the
                # first registered sends nothing).
                for tries in range(1, 4):
                    await self._run(self._db.SetRtAlarmNotify, fn, 1 if existing else 0)
                    if self.connected:
                        return
                    if tries == 3 or not await self._back_again():
                        raise Error("alarm subscription failed: %s" % self.last_error)

            self._alarm_setup = self._background(subscribe(), s)
        s._setup = self._alarm_setup
        return s

    def states(self, maxsize: int = 64, overflow: str = "drop-oldest") -> Stream[str]:
        """A stream of the connection's state changes, from now on."""
        s: Stream[str] = Stream(self._loop, maxsize, overflow)
        self._state_streams.add(s)
        self._streams.add(s)
        return s

    async def close(self) -> None:
        """Disconnects and ends every stream (they give what they hold,
        then stop). Calling it again does nothing."""
        if self._closed:
            return
        self._closed = True
        _end_streams(self._streams)  # first: a blocked receive thread lets go
        # Not on the worker: a request waiting there on a stalled server is
        # woken by the disconnect and fails.
        await self._loop.run_in_executor(None, self._db.Disconnect)
        self._worker.shutdown(wait=False)

    async def __aenter__(self) -> "Connection":
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.close()

    # Internals.

    async def _back_again(self) -> bool:
        """After a request failed: True once the connection is up (at once
        when it is), False when it ends closed."""
        states = self.states()
        try:
            while not self._closed:
                state = self.state
                if state in ("closed", "unconnected"):
                    return False
                if state == "connected" and self.connected:
                    return True
                try:
                    await asyncio.wait_for(states.get(), 1.0)
                except asyncio.TimeoutError:
                    pass  # looked at again
            return False
        finally:
            self._state_streams.discard(states)

    def _run(self, fn: Callable[..., Any], *args: Any) -> "asyncio.Future[Any]":
        if self._closed:
            raise Error("the connection is closed")
        return self._loop.run_in_executor(self._worker, fn, *args)

    def _background(self, aw: Awaitable[Any], stream: Stream[Any]) -> "asyncio.Future[Any]":
        """Runs aw; a failure ends stream with it."""
        task = asyncio.ensure_future(aw)
        self._tasks.add(task)

        def done(t: "asyncio.Future[Any]") -> None:
            self._tasks.discard(t)
            if not t.cancelled() and t.exception() is not None:
                Stream.close(stream, t.exception())

        task.add_done_callback(done)
        return task

    def _route(self, w: Watch) -> None:
        self._streams.add(w)
        routes = {d: dict(tags) for d, tags in self._routes.items()}
        tags = routes.setdefault(w.driver.name, {})
        for name in w.tags:
            tags[name] = tuple(tags.get(name, ())) + (w,)
        self._advised.setdefault(w.driver.name, set()).update(w.tags)
        self._publish(routes, w.driver.name)

    def _unroute(self, w: Watch) -> None:
        routes = {d: dict(tags) for d, tags in self._routes.items()}
        tags = routes.get(w.driver.name, {})
        for name in w.tags:
            rest = tuple(x for x in tags.get(name, ()) if x is not w)
            if rest:
                tags[name] = rest
            else:
                tags.pop(name, None)
        self._publish(routes, w.driver.name)

    def _publish(self, routes: Dict[str, Dict[str, Sequence[Watch]]], driver: str) -> None:
        only = dict(self._only)
        only.pop(driver, None)
        watches = {w for ws in routes.get(driver, {}).values() for w in ws}
        if len(watches) == 1:
            w = next(iter(watches))
            if set(w.tags) == self._advised.get(driver):
                only[driver] = w
        self._routes = routes
        self._only = only


class _Connecting:
    """What connect() returns: await it, or use it with `async with`."""

    def __init__(self, host: str, user: str, password: str, reconnect: bool,
                 settings: Dict[str, Any]) -> None:
        self._args = (host, user, password)
        self._reconnect = reconnect
        self._settings = settings
        self._conn: Optional[Connection] = None

    async def _connect(self) -> Connection:
        conn = Connection(asyncio.get_running_loop())
        conn._db.SetAutoReconnect(enabled=self._reconnect, **self._settings)
        code = await conn._run(conn._db.Connect, *self._args)
        if code != 0:
            why = conn.last_error
            await conn.close()
            raise Error("connect failed (%d): %s" % (code, why), code)
        return conn

    def __await__(self) -> Generator[Any, None, Connection]:
        return self._connect().__await__()

    async def __aenter__(self) -> Connection:
        self._conn = await self._connect()
        return self._conn

    async def __aexit__(self, *exc: object) -> None:
        if self._conn is not None:
            await self._conn.close()


def connect(host: str, user: str, password: str, *, reconnect: bool = True,
            initial_delay: float = 0.5, max_delay: float = 30.0, max_attempts: int = 0,
            replay_alarms: bool = False) -> _Connecting:
    """Connects to the server at host ("ADDRESS[:PORT]").

    With reconnect, a connection that is lost is restored by itself: after
    initial_delay seconds, then pauses doubling up to max_delay (each
    scaled by a random 0.8 to 1), at most max_attempts times (0: for as
    long as it takes). The same drivers and watches go on; requests made
    meanwhile fail at once. replay_alarms delivers the active alarms again
    once back. Raises Error when the first connect fails."""
    settings = dict(initial_delay=initial_delay, max_delay=max_delay,
                    max_attempts=max_attempts, replay_alarms=replay_alarms)
    return _Connecting(host, user, password, reconnect, settings)
