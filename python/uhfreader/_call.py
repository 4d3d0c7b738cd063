"""One command call: the caller's values checked against the catalogue and laid out for C, and
the outcome read back.

Every value is checked before anything is sent, so a wrong one raises ValueError (or TypeError)
naming the argument instead of being cut to its low bits, as C callers' ints are.
"""

from __future__ import annotations

import ctypes
import operator
from typing import Any, List, Optional, Sequence, Tuple, Union

from . import _catalogue as cat
from . import _library
from ._errors import RequestTooLongError

MAX_REQUEST = 255
Copy = Union[bytes, int, None]


def check_int(what: str, name: str, value: Any, low: int, high: int) -> int:
    """``value`` as an int within low..high, else TypeError / ValueError naming ``name``."""
    if isinstance(value, float):
        raise TypeError(f"{what}: {name} must be an int, not float")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what}: {name} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{what}: {name} must be {low}..{high}, got {number}")
    return number


def check_bytes(what: str, name: str, value: Any) -> bytes:
    if isinstance(value, str):
        raise TypeError(f"{what}: {name} must be bytes-like, not str (use bytes.fromhex for hex)")
    try:
        return bytes(memoryview(value))
    except TypeError:
        raise TypeError(f"{what}: {name} must be bytes-like, not {type(value).__name__}") from None


def _writable(value: Any) -> bool:
    if isinstance(value, (bytes, int)):
        return False
    try:
        return not memoryview(value).readonly
    except TypeError:
        return False


class PreparedCall:
    """The C arguments of one catalogue command, after every check."""

    def __init__(self, lib: ctypes.CDLL, cmd: cat.Command, values: Sequence[Any], what: str) -> None:
        self.lib = lib
        self.cmd = cmd
        self.what = what
        self.scalars = (ctypes.c_int * 4)()
        self.buffers = (_library.BYTES * 4)()
        self.arrays: List[Optional[ctypes.Array]] = [None] * 4  # type: ignore[type-arg]
        self.callers: List[Any] = [None] * 4  # the caller's objects, for an echo in place
        sent = 0
        counted = ""  # the counted block, which alone can make a request too long
        params = iter(values)
        for i, arg in enumerate(cmd.args):
            if arg.is_scalar:
                self.scalars[i] = check_int(what, arg.name, next(params), arg.min, arg.max)
                sent += 1 if arg.kind == cat.SCALAR8 else 2
                continue
            if arg.kind == cat.REPLY:
                self._place(i, b"", cmd.copy_room(arg))
                continue
            value = next(params)
            self.callers[i] = value
            data, length = self._block(i, arg, value)
            sent += length
            if arg.block != cat.FIXED:
                counted = arg.name
            room = cmd.copy_room(arg) if i == cmd.copy_arg else 0
            self._place(i, data, max(len(data), room, 1))
        if sent > MAX_REQUEST:
            raise RequestTooLongError(f"{what}: {counted}", sent, library=lib)

    def _block(self, i: int, arg: cat.Argument, value: Any) -> Tuple[bytes, int]:
        """The block's bytes and how many of them the command sends."""
        what, name = self.what, arg.name
        if arg.takes_int and not isinstance(value, (bytes, bytearray, memoryview)):
            return bytes([check_int(what, name, value, 0, 255)]), 1
        data = check_bytes(what, name, value)
        if arg.block == cat.FIXED:
            if len(data) != arg.size:
                raise ValueError(f"{what}: {name} must be {arg.size} bytes, got {len(data)}")
            return data, len(data)
        if len(data) < arg.size:
            raise ValueError(f"{what}: {name} must hold at least its {arg.size}-byte header "
                             f"({arg.describe()}), got {len(data)} bytes")
        buf = (ctypes.c_ubyte * len(data)).from_buffer_copy(data)
        need = self.lib.uhf_block_length(self.cmd.info, i, buf, len(data))
        if need <= MAX_REQUEST and len(data) != need:
            raise ValueError(f"{what}: {name} holds {len(data)} bytes where its count fields give "
                             f"{need} ({arg.describe()})")
        return data, need

    def _place(self, i: int, data: bytes, room: int) -> None:
        array = (ctypes.c_ubyte * room)()
        ctypes.memmove(array, data, len(data))
        self.arrays[i] = array
        self.buffers[i] = ctypes.cast(array, _library.BYTES)

    def c_args(self) -> List[Any]:
        """The arguments after the address, as the designed function takes them."""
        return [self.scalars[i] if a.is_scalar else self.arrays[i] for i, a in enumerate(self.cmd.args)]

    def failed(self, rc: int, status: int, detail: int) -> bool:
        """Whether the exchange failed. A status-result command returns the status byte or the
        exchange code, whose ranges overlap: it failed when it left a detail code or a result
        other than the status byte read."""
        if rc == 0:
            return False
        return rc < 0 or self.cmd.result == cat.RESULT_EXCHANGE or detail != 0 or rc != status

    def copy(self, echo_as_int: bool) -> Copy:
        """What the command's copy rule wrote, after a valid reply."""
        cmd = self.cmd
        if cmd.copy == cat.COPY_NONE or cmd.copy_arg < 0:
            return None
        array = self.arrays[cmd.copy_arg]
        assert array is not None
        if cmd.copy == cat.STATUS_ECHO:
            caller = self.callers[cmd.copy_arg]
            if _writable(caller):
                memoryview(caller).cast("B")[0] = array[0]
            return array[0] if echo_as_int else bytes(array[:1])
        n = self.lib.uhf_copy_length(cmd.info, array)
        return bytes(array[:n])
