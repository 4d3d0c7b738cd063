"""Link: one reader on one device, over the library's link API.

Links share nothing, so several can be open at once, each used from its own thread: ctypes lets
go of the interpreter lock while the library waits for a reply. Calls on one link are taken in
turn.
"""

from __future__ import annotations

import ctypes
import enum
import math
import os
import threading
import weakref
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, NamedTuple, Optional, Sequence, Union

from . import _library, _methods
from ._call import Copy, PreparedCall, check_bytes, check_int
from ._errors import (CancelledError, DeviceGoneError, ExchangeError, LinkClosedError, LinkFailure, OpenError,
                      ReaderStatusError)
from ._inventory import Tag, inventory

DeviceName = Union[str, "os.PathLike[str]"]


class Direction(enum.IntEnum):
    """Which way traced bytes went."""

    SENT = 0       # a request frame, as it went on the wire
    RECEIVED = 1   # bytes of a reply, as they came off the wire
    DISCARDED = 2  # stale bytes thrown away before a request (TCP and USB)


class TraceEvent(NamedTuple):
    """Bytes a link moved: as on the wire (DLE doubling included), with the CLOCK_MONOTONIC time
    in microseconds at which the first of them moved."""

    direction: Direction
    data: bytes
    time_us: int


Trace = Callable[[TraceEvent], None]


def _c_trace(fn: Trace) -> Any:
    def relay(_user: Any, direction: int, data: Any, length: int, t_us: int) -> None:
        # An exception here cannot reach the caller of the exchange: ctypes reports it through
        # sys.unraisablehook and the exchange goes on.
        fn(TraceEvent(Direction(direction), ctypes.string_at(data, length), t_us))

    return _library.TRACE_FN(relay)


def _milliseconds(name: str, seconds: Optional[float]) -> int:
    if seconds is None:
        return 0  # the library's default
    if isinstance(seconds, bool) or not isinstance(seconds, (int, float)) or math.isnan(seconds):
        raise TypeError(f"Link: {name} must be a number of seconds, not {type(seconds).__name__}")
    if not 0 < seconds <= 86400:
        raise ValueError(f"Link: {name} must be more than 0 and at most 86400 seconds, got {seconds}")
    return max(1, math.ceil(seconds * 1000))


def _options(handshakes: Optional[int], reply_timeout: Optional[float],
             connect_timeout: Optional[float]) -> _library.Options:
    """The library's options; 0 in a field is its default."""
    o = _library.Options()
    o.handshake_attempts = 0 if handshakes is None else check_int("Link", "handshakes", handshakes, 1, 1000)
    o.reply_timeout_ms = _milliseconds("reply_timeout", reply_timeout)
    o.connect_timeout_ms = _milliseconds("connect_timeout", connect_timeout)
    return o


def _release(lib: ctypes.CDLL, handle: ctypes.c_void_p, keep: Dict[str, Any]) -> None:
    """Closes a link the program forgot to close, so the device it holds is free again."""
    if handle.value:
        lib.uhf_close(handle)
        handle.value = None
    keep.clear()


class Link:
    """A reader on one device, opened when the Link is made.

    Link("/dev/ttyUSB0")                 a serial node (115200 baud; "/dev/ttyUSB0@9600")
    Link("usb"), Link("usb:1-2.3")       the first USB reader; the one on that port path
    Link("usb:serial=A50285BI")          the USB reader with that serial number
    Link("tcp:192.168.1.50:4001")        a reader behind a network serial server

    ``addr`` is the reader address proven by the handshake and used by every command.
    ``handshakes``, ``reply_timeout`` and ``connect_timeout`` (seconds) override the library's
    defaults (3 handshakes; 2 s for a handshake's reply and 4 s for other replies; 3 s to
    connect). ``trace`` is called with a TraceEvent for every frame, from the handshake on.

    Raises OpenError when the device cannot be opened or no reader answers. Use it as a context
    manager, or close() it; a Link garbage-collected while open is closed then.

    Every reader command is a method, generated from the library's catalogue (see help() of
    each, or ``uhfreader.commands()``).
    """

    if TYPE_CHECKING:  # the generated command methods, for type checkers
        def __getattr__(self, name: str) -> Callable[..., Any]: ...

    def __init__(self, device: DeviceName, addr: int = 1, *, handshakes: Optional[int] = None,
                 reply_timeout: Optional[float] = None, connect_timeout: Optional[float] = None,
                 trace: Optional[Trace] = None, library: Optional[str] = None) -> None:
        self._device = os.fspath(device)
        self._addr = check_int("Link", "addr", addr, 0, 255)
        self._options = _options(handshakes, reply_timeout, connect_timeout)
        self._lib = _library.load(library)
        _methods.install(Link, self._lib, echo_as_int=True)
        self._commands = _methods.commands_by_name(self._lib)
        self._lock = threading.Lock()
        # Held by cancel() and by close() around freeing the link, never across an exchange:
        # a cancel cannot wait for the exchange it ends, nor touch a link being freed.
        self._cancel_lock = threading.Lock()
        self._keep: Dict[str, Any] = {}  # C callbacks, alive as long as the library may call them
        if trace is not None:
            self._keep["trace"] = self._options.trace = _c_trace(trace)
        self._handle = ctypes.c_void_p()
        rc = self._lib.uhf_open_with(ctypes.byref(self._handle), os.fsencode(self._device),
                                     self._addr, ctypes.byref(self._options))
        if rc != 0:
            raise OpenError(rc, self._device, self._addr, library=self._lib)
        self._finalizer = weakref.finalize(self, _release, self._lib, self._handle, self._keep)

    # ---- the link itself ----

    @property
    def device(self) -> str:
        """The device string the link was opened with."""
        return self._device

    @property
    def addr(self) -> int:
        """The reader address commands go to (after WriteDeviceNo, set the new one here)."""
        return self._addr

    @addr.setter
    def addr(self, value: int) -> None:
        self._addr = check_int("Link", "addr", value, 0, 255)

    @property
    def closed(self) -> bool:
        return not self._handle.value

    def close(self) -> None:
        """Closes the device and frees the link; waits for a call under way on another thread.
        Closing twice is harmless."""
        with self._lock, self._cancel_lock:
            self._finalizer()

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<uhfreader.Link {self._device!r} addr=0x{self._addr:02X} {state}>"

    def _held(self) -> ctypes.c_void_p:
        if not self._handle.value:
            raise LinkClosedError(self._device)
        return self._handle

    def cancel(self) -> None:
        """Ends the exchange waiting on this link, from any thread: it raises CancelledError
        within milliseconds, and the link stays usable. A cancel while nothing waits is kept,
        and the next exchange raises CancelledError before sending anything (reconnect(): an
        OpenError whose ``failure`` is LinkFailure.CANCELLED); so a worker that checks a stop flag before each exchange cannot miss a stop that sets
        the flag and then cancels. Does nothing on a closed link.

        Python runs signal handlers on the main thread between calls, so a handler cannot end
        an exchange running on the main thread: cancel from another thread (or run exchanges
        on a worker thread)."""
        with self._cancel_lock:
            if not self._handle.value:
                return
            if not hasattr(self._lib, "uhf_cancel"):
                raise NotImplementedError(f"{self._lib._name}: this libuhfreader has no uhf_cancel")
            self._lib.uhf_cancel(self._handle)

    def reconnect(self) -> None:
        """Opens the device string again and proves the reader, after the device went away
        (DeviceGoneError). Raises OpenError while it is still away; may be retried."""
        with self._lock:
            rc = self._lib.uhf_reconnect(self._held())
        if rc != 0:
            raise OpenError(rc, self._device, self._addr, library=self._lib)

    def set_options(self, *, handshakes: Optional[int] = None, reply_timeout: Optional[float] = None,
                    connect_timeout: Optional[float] = None) -> None:
        """Replaces the link's options; one left out (None) goes back to the library's default."""
        options = _options(handshakes, reply_timeout, connect_timeout)
        with self._lock:
            self._lib.uhf_set_options(self._held(), ctypes.byref(options))

    def set_trace(self, trace: Optional[Trace]) -> None:
        """Calls ``trace`` with a TraceEvent for every frame from now on; None switches it off.
        It runs on the thread of the exchange and must not call this link."""
        fn = _c_trace(trace) if trace is not None else ctypes.cast(0, _library.TRACE_FN)  # NULL: off
        with self._lock:
            self._lib.uhf_set_trace(self._held(), fn, None)
            # The old callback may still be in use until set_trace returned; now it is not.
            self._keep["trace"] = fn

    @property
    def status(self) -> int:
        """The status byte of the last reply whose status byte was read."""
        with self._lock:
            return int(self._lib.uhf_status(self._held()))

    @property
    def detail(self) -> int:
        """The detail code of the last exchange (0, or 101..118)."""
        with self._lock:
            return int(self._lib.uhf_detail(self._held()))

    # ---- exchanges ----

    def _failure(self, rc: int, detail: int, what: str) -> ExchangeError:
        if rc == LinkFailure.GONE:
            return DeviceGoneError(rc, detail, what, library=self._lib)
        if rc == LinkFailure.CANCELLED:
            return CancelledError(rc, detail, what, library=self._lib)
        return ExchangeError(rc, detail, what, library=self._lib)

    def exchange(self, code: int, data: bytes = b"") -> bytes:
        """One raw exchange: command ``code`` (0..255) with up to 255 bytes of request data.
        Returns the reply's data; raises as the command methods do."""
        what = f"exchange 0x{code:02X}" if isinstance(code, int) and 0 <= code <= 255 else "exchange"
        code = check_int(what, "code", code, 0, 255)
        request = check_bytes(what, "data", data)
        if len(request) > 255:
            raise ValueError(f"{what}: data must be at most 255 bytes, got {len(request)}")
        req = (ctypes.c_ubyte * max(1, len(request))).from_buffer_copy(request.ljust(1, b"\0"))
        reply = (ctypes.c_ubyte * 2048)()
        length = ctypes.c_int()
        with self._lock:
            handle = self._held()
            rc = self._lib.uhf_exchange(handle, self._addr, code, req, len(request), reply, 2048,
                                        ctypes.byref(length))
            status = self._lib.uhf_status(handle)
            detail = self._lib.uhf_detail(handle)
        if rc != 0:
            raise self._failure(rc, detail, what)
        data_back = bytes(reply[: min(length.value, 2048)])
        if status != 0:
            raise ReaderStatusError(status, data_back, what)
        return data_back

    def _run(self, name: str, values: Sequence[Any]) -> Copy:
        cmd = self._commands[name]
        what = cmd.method_name
        call = PreparedCall(self._lib, cmd, values, what)
        with self._lock:
            handle = self._held()
            rc = self._lib.uhf_call(handle, cmd.info, self._addr, call.scalars, call.buffers)
            status = self._lib.uhf_status(handle)
            detail = self._lib.uhf_detail(handle)
        if call.failed(rc, status, detail):
            raise self._failure(rc, detail, what)
        data = call.copy(echo_as_int=True)
        if status != 0:
            raise ReaderStatusError(status, bytes([data]) if isinstance(data, int) else data or b"", what)
        return data

    def inventory(self, family: str = "epc", *, query: bool = True) -> Iterator[Tag]:
        """One inventory round: the family's query, then every page of its tag list, parsed in
        the virtual reader's layout (docs/simulator.md). Each Tag keeps the raw page it came
        from; a page in another layout raises TagListFormatError holding it raw."""
        return inventory(self, family, query=query)


try:  # the command methods, when the library is at hand already (else the first Link adds them)
    _methods.install(Link, _library.load(), echo_as_int=True)
except OSError:
    pass
