"""What the streams of the asynchronous API carry."""

import datetime
from typing import NamedTuple, Optional, Union

Value = Union[int, float, bool, str]


class TagChange(NamedTuple):
    """A tag changed: its driver, its name and its new value (None for a
    type without a Python form)."""

    driver: str
    tag: str
    value: Optional[Value]


class Alarm(NamedTuple):
    """A real-time alarm. Times are naive local datetimes; event_time is
    time when the alarm has no event time of its own (has_event is then
    0). Texts the project's lists lack are "???"."""

    time: datetime.datetime
    event_time: datetime.datetime
    tag: str
    has_event: int
    type: str
    group: str
    level: int
    value: float
    limit: float
    status: int


class Error(Exception):
    """A request failed. code is the native result (for example -2 for a
    connect that could not reach the server), or None; the message says
    why, from the connection's last error."""

    def __init__(self, message: str, code: Optional[int] = None) -> None:
        super().__init__(message)
        self.code = code
