"""Reader: the designed interface (LinkCom, the command functions and the exported exchange
state) for code written against it. The library keeps one such link per process, so one Reader
is linked at a time and calls from several threads are taken in turn; use Link for more.
"""

from __future__ import annotations

import ctypes
import os
import threading
from typing import TYPE_CHECKING, Any, Callable, Iterator, Optional, Sequence

from . import _library, _methods
from ._call import Copy, PreparedCall, check_bytes, check_int
from ._catalogue import method_name
from ._errors import DeviceGoneError, ExchangeError, LinkError, LinkFailure, ReaderStatusError, describe_exchange
from ._inventory import Tag, inventory

_lock = threading.RLock()
_linked: "Optional[Reader]" = None
_declared: "set[int]" = set()  # libraries whose designed functions have their prototypes
_USB_PORT = 32


def _declare_designed(lib: ctypes.CDLL) -> None:
    for cmd in _methods.commands_by_name(lib).values():
        fn = getattr(lib, cmd.name)
        fn.restype = ctypes.c_int
        fn.argtypes = [ctypes.c_int] + [ctypes.c_int if a.is_scalar else _library.BYTES for a in cmd.args]


class Reader:
    """A reader reached through the designed interface.

    Reader("/dev/ttyUSB0")       a serial node, a pseudo-terminal such as uhfsim serves, or
                                 "tcp:HOST:PORT"
    Reader(port=0)                /dev/ttyS0, then /dev/ttyUSB0
    Reader(usb=True)              the USB reader

    link() (or a with block) links; every reader command is a method generated from the
    library's catalogue. Status-echo commands return the echoed byte as 1 byte of bytes.
    """

    if TYPE_CHECKING:  # the generated command methods, for type checkers
        def __getattr__(self, name: str) -> Callable[..., Any]: ...

    def __init__(self, node: "Optional[str | os.PathLike[str]]" = None, *, port: Optional[int] = None,
                 usb: bool = False, addr: int = 1, baud: int = 115200, library: Optional[str] = None) -> None:
        if sum(x is not None and x is not False for x in (node, port, usb or None)) != 1:
            raise ValueError("name exactly one of: node, port, usb=True")
        self.node = os.fspath(node) if node is not None else None
        self.port = _USB_PORT if usb else (check_int("Reader", "port", port, 0, 255) if port is not None else None)
        self.addr = check_int("Reader", "addr", addr, 0, 255)
        self.baud = check_int("Reader", "baud", baud, 0, 2**31 - 1)
        self._lib = _library.load(library)
        with _lock:
            if id(self._lib) not in _declared:
                _declare_designed(self._lib)
                _declared.add(id(self._lib))
        _methods.install(Reader, self._lib, echo_as_int=False)
        self._commands = _methods.commands_by_name(self._lib)

    # ---- link ----

    def _where(self) -> str:
        if self.node is not None:
            return self.node
        return "USB" if self.port == _USB_PORT else f"port {self.port}"

    def link(self) -> "Reader":
        """Links and proves a reader answers; raises LinkError when none does."""
        global _linked
        with _lock:
            if _linked is self:
                return self
            if _linked is not None:
                raise RuntimeError("another Reader holds the link; unlink it first (or use Link)")
            if self.node is not None:
                rc = self._lib.LinkCom_Path(self.addr, os.fsencode(self.node), self.baud)
            else:
                rc = self._lib.LinkCom(self.addr, self.port, self.baud)
            if rc != 0:
                raise LinkError(rc, self._var("IcRetCode"), self._where(), words=self._link_words(rc),
                                library=self._lib)
            _linked = self
            return self

    def _link_words(self, rc: int) -> Optional[str]:
        def words(failure: LinkFailure) -> str:
            return describe_exchange(failure, library=self._lib)

        if self.port == _USB_PORT and rc == 1:
            # The designed interface cannot tell a missing reader from one it may not open.
            return f"{words(LinkFailure.NO_USB_READER)}; or {words(LinkFailure.ACCESS)}"
        if self.node is not None and not self.node.startswith("tcp:") and not os.path.exists(self.node):
            return words(LinkFailure.NOT_FOUND)
        return None

    def unlink(self) -> None:
        global _linked
        with _lock:
            if _linked is self:
                self._lib.UnLinkCom()
                _linked = None

    @property
    def linked(self) -> bool:
        return _linked is self

    def __enter__(self) -> "Reader":
        return self.link()

    def __exit__(self, *exc: Any) -> None:
        self.unlink()

    def _require_link(self) -> None:
        if _linked is not self:
            raise RuntimeError("this Reader is not linked; use it in a with block or call link()")

    def _failure(self, rc: int, detail: int, what: str) -> ExchangeError:
        # The designed interface says only how the exchange failed; a serial node that has
        # vanished says why.
        node = self.node
        if node is not None and not node.startswith("tcp:") and not os.path.exists(node):
            return DeviceGoneError(rc, detail, what, library=self._lib)
        return ExchangeError(rc, detail, what, library=self._lib)

    # ---- exchanges ----

    def exchange(self, cmd: int, data: bytes = b"") -> bytes:
        """One exchange with any command code through PcSendOrder; returns the reply data."""
        what = f"command 0x{cmd:02X}" if isinstance(cmd, int) and 0 <= cmd <= 255 else "exchange"
        cmd = check_int(what, "cmd", cmd, 0, 255)
        request = check_bytes(what, "data", data)
        if len(request) > 255:
            raise ValueError(f"{what}: data must be at most 255 bytes, got {len(request)}")
        with _lock:
            self._require_link()
            lib = self._lib
            _library.variable(lib, "pc_id").value = self.addr
            _library.variable(lib, "IcCmd").value = cmd
            ctypes.memmove(_library.variable(lib, "BlkAAdrBeg"), request, len(request))
            _library.variable(lib, "BlkALength").value = len(request)
            _library.variable(lib, "ErrorCode").value = 0
            rc = lib.PcSendOrder()
            if rc != 0:
                raise self._failure(rc, self._var("IcRetCode"), what)
            reply = self.reply_data
            if self._var("ErrorCode") != 0:
                raise ReaderStatusError(self._var("ErrorCode"), reply, what)
            return reply

    def _run(self, name: str, values: Sequence[Any]) -> Copy:
        cmd = self._commands[name]
        what = cmd.method_name
        call = PreparedCall(self._lib, cmd, values, what)
        with _lock:
            self._require_link()
            _library.variable(self._lib, "ErrorCode").value = 0
            rc = getattr(self._lib, cmd.name)(self.addr, *call.c_args())
            detail = self._var("IcRetCode")
            status = self._var("ErrorCode")
        if call.failed(rc, status, detail):
            raise self._failure(rc, detail, what)
        data = call.copy(echo_as_int=False)
        if status != 0:
            raise ReaderStatusError(status, data if isinstance(data, bytes) else b"", what)
        return data

    def inventory(self, family: str = "epc", *, query: bool = True) -> Iterator[Tag]:
        """One inventory round in the virtual reader's tag-list layout; see Link.inventory."""
        return inventory(self, family, query=query)

    # ---- exchange state ----

    def _var(self, name: str) -> int:
        return int(_library.variable(self._lib, name).value)

    @property
    def reply_data(self) -> bytes:
        """The last reply's data (BlkBAdrBeg up to BlkBLength)."""
        with _lock:
            n = min(self._var("BlkBLength"), 2048)
            return bytes(_library.variable(self._lib, "BlkBAdrBeg")[:n])

    @property
    def request_data(self) -> bytes:
        """BlkAAdrBeg up to BlkALength (on USB: the last piece sent)."""
        with _lock:
            n = self._var("BlkALength")
            return bytes(_library.variable(self._lib, "BlkAAdrBeg")[:n])


def _state_property(c_name: str) -> property:
    def get(self: Reader) -> int:
        with _lock:
            return self._var(c_name)

    get.__doc__ = f"The library's {c_name}."
    return property(get)


# The exchange state, read-only; the two data arrays are request_data and reply_data.
_STATE_NAMES = {"BlkALength": "blk_a_length", "BlkBLength": "blk_b_length"}
for _c_name in _library.VARIABLES:
    if _c_name not in ("BlkAAdrBeg", "BlkBAdrBeg"):
        setattr(Reader, _STATE_NAMES.get(_c_name, method_name(_c_name)), _state_property(_c_name))

try:  # the command methods, when the library is at hand already (else the first Reader adds them)
    _methods.install(Reader, _library.load(), echo_as_int=False)
except OSError:
    pass
