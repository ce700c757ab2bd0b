"""qxdb access.

Type stubs of the extension module QxDBAccess: a client of a real-time
process database server. Blocking calls release the interpreter lock while
they wait on the server; callbacks run on the connection's receive thread.
"""

import datetime
from typing import Any, Callable, List, Literal, Optional, Tuple, Union

Value = Union[int, float, bool, str]
"""A tag value as scripts see it: int, float, bool or str."""

TagNotify = Callable[[str, str, Optional[Value]], object]
"""fn(driver, tag, value): a tag changed. value is None for a type without
a Python form."""

RtAlarmNotify = Callable[
    [datetime.datetime, datetime.datetime, str, int, str, str, int, float, float, int], object
]
"""fn(almtm, evttm, tag, has_event, type, group, level, value, limit, status):
a real-time alarm. Times are naive local datetimes; evttm is almtm when the
alarm has no event time, and has_event is then 0. Texts the project's lists
lack are "???"."""

State = Literal["unconnected", "connecting", "connected", "reconnecting", "closed"]

class DBCore:
    """DBCore objects"""

    def __init__(self, *args: object, **kwargs: object) -> None:
        """A new, unconnected DBCore; arguments are ignored. Dropping the
        last reference disconnects it."""
    def Connect(self, szHost: str, szUserName: str, szPassword: str, /) -> int:
        """Connect DB server

        szHost is "ADDRESS[:PORT]". Returns 0 connected, -1 login refused
        (or credentials too long), -2 the server could not be reached or
        the handshake, the project synchronisation or the login exchange
        failed, -3 the server gave no project name or an unknown login
        reply. Connecting a connected DBCore disconnects it first.
        """
    def GetDriver(self, szDriver: str, /) -> "Driver":
        """Get DB Driver

        A new Driver object for the named driver; every object of one name
        shares the one driver and its callback. Raises LookupError when the
        DBCore is not connected or the project has no such driver.
        """
    def SetRtAlarmNotify(self, fn: RtAlarmNotify, notifyExisting: int, /) -> None:
        """Set Realtime Alarm Notify

        Subscribes fn to real-time alarms. With notifyExisting true, the
        alarms active now are delivered to fn first, on this thread, before
        the call returns. Returns None whether it subscribed, a callback was
        registered already (the first one stays; nothing is sent), or the
        exchange failed. Raises TypeError "parameter must be callable".
        """
    def Disconnect(self) -> None:
        """Disconnect DB server

        Ends the connection (a reconnect under way stops too). Driver
        objects then fail their calls, as after a lost connection; Connect
        makes a new connection.
        """
    def IsConnected(self) -> bool:
        """Is Connected

        True while the connection is up: False as soon as the server has
        gone, a reply was cut short or late, or Disconnect was called.
        """
    def LastError(self) -> str:
        """Last Error

        Why the last connect, request or reconnect failed, for people:
        "login refused for user 'x'", "connection lost: the server closed
        it", ... Kept until the next failure; "" before the first.
        """
    def GetState(self) -> State:
        """Get Connection State"""
    def SetStateNotify(self, fn: Callable[[State], object], /) -> None:
        """Set Connection State Notify

        Registers fn(state) for every change of state: on the receive
        thread for a lost or restored connection, on the caller's thread for
        Connect and Disconnect. The first registration stays. Raises
        TypeError "parameter must be callable".
        """
    def SetAutoReconnect(self, enabled: bool = True, initial_delay: float = 0.5,
                         max_delay: float = 30.0, max_attempts: int = 0,
                         replay_alarms: bool = False) -> None:
        """Set Auto Reconnect

        With enabled, a connection lost without Disconnect is restored by
        the receive thread: after initial_delay seconds, then pauses that
        double up to max_delay, each scaled by a random 0.8 to 1, at most
        max_attempts times per loss (0: until it succeeds). Once back, the
        same Driver objects work again, every advised tag is advised again
        and its current value delivered to its callback, and the alarm
        callback is subscribed again (with the active alarms delivered
        again when replay_alarms). Meanwhile calls fail at once. Applies
        from the next loss on; delays are clamped to 1 ms .. 1 h. Raises
        ValueError for a negative value.
        """

class Driver:
    """Driver objects

    Made by DBCore.GetDriver. A Driver that holds no driver (made by
    Driver()), or whose DBCore was dropped or whose connection ended, fails
    its calls cleanly: ConnectTag 0, GetTagValue None, SetTagValue -2,
    SetTagNotify registers nothing.
    """

    def __init__(self, *args: object, **kwargs: object) -> None: ...
    def SetTagNotify(self, fn: TagNotify, /) -> None:
        """Tag Value Change Notify Function

        Registers fn for changes of this driver's advised tags (see
        ConnectTag). The first registration of a driver stays; later ones
        change nothing. Raises TypeError "parameter must be callable".
        """
    def SetTagBatchNotify(self, fn: Callable[[str, List[Any]], object],
                          item_type: Optional[type] = None, /) -> None:
        """Tag Value Change Batch Notify Function

        As SetTagNotify, but fn(driver, changes) is called once per read of
        the notification connection with this driver's changes in it, in
        order: (tag, value) pairs, or with item_type (a tuple type without
        fields of its own, such as a named tuple) item_type(driver, tag,
        value) items. It takes the driver's one callback place. Raises
        TypeError for another item_type.
        """
    def ConnectTag(self, szTag: str, /) -> int:
        """Connect Tag

        Advises the comma-separated tags, so that their changes reach the
        callback and reads of them cost no traffic. Returns 1 when the
        request succeeded, 0 otherwise.
        """
    def GetTagValue(self, szTag: str, /) -> Union[None, Optional[Value], List[Optional[Value]]]:
        """Get Tag Value

        One name: its value, or None when it did not resolve. Several
        comma-separated names: a list with one item per name (None where a
        name did not resolve). None when the request failed. Raises
        UnicodeDecodeError for a text value that is not UTF-8.
        """
    def SetTagValue(self, szTag: str, objValues: Union[Value, List[Value]], /) -> int:
        """Set Tag Value

        One name: objValues is its value. Several names: a list, item i for
        name i (an unresolved name is skipped with its item). The value
        travels in the type of the Python object: str as text, bool as
        VT_BOOL, int as VT_I4 (signed 32-bit), float as VT_R8.

        Returns 0 sent (or no names), -1 no write right, -2 resolving the
        names or sending failed, -3 a value that does not convert (another
        type, an int beyond 32 bits, a str that is not UTF-8 or holds a
        NUL, too long a text), the single name did not resolve, or several
        names without a long enough list. Nothing is sent unless 0.
        """
