"""What the package raises, in the library's own words (uhf_strerror)."""

from __future__ import annotations

import ctypes
import enum
from typing import Optional


class LinkFailure(enum.IntEnum):
    """Why a link could not be opened or used: the library's UHF_ERR_* codes."""

    BAD_DEVICE = -1
    NOT_FOUND = -2
    ACCESS = -3
    BUSY = -4
    NOT_TERMINAL = -5
    NO_USB_READER = -6
    CONNECT = -7
    TIMEOUT = -8
    GONE = -9
    CLOSED = -10
    NO_MEMORY = -11
    INVALID = -12
    UNKNOWN_HOST = -13
    USB = -14
    IO = -15
    CANCELLED = -16


REFUSED_TOO_LONG = 248  # exchange code of a request refused before sending (detail 104)
REFUSED_TOO_LONG_DETAIL = 104


def describe_exchange(code: int, detail: int = 0, *, library: Optional[ctypes.CDLL] = None) -> str:
    """The library's words for a result: an exchange code with its detail code, or a
    negative LinkFailure code. Loads the library when it is not loaded yet."""
    if library is None:
        from . import _library

        library = _library.load()
    return str(library.uhf_strerror(int(code), int(detail)).decode("utf-8", "replace"))


def _words(code: int, detail: int, library: Optional[ctypes.CDLL]) -> str:
    try:
        return describe_exchange(code, detail, library=library)
    except OSError:  # no library to ask: the numbers alone still say what happened
        return "exchange failed"


class UhfError(Exception):
    """Base of every error this package raises about a reader."""


class ExchangeError(UhfError):
    """An exchange failed: ``code`` is the exchange code (or a negative LinkFailure), ``detail``
    the detail code; the message is the library's description of the two."""

    def __init__(self, code: int, detail: int, what: str = "", *,
                 library: Optional[ctypes.CDLL] = None) -> None:
        self.code = code
        self.detail = detail
        self.words = _words(code, detail, library)
        prefix = f"{what}: " if what else ""
        super().__init__(f"{prefix}{self.words} (exchange {code}, detail {detail})")


class DeviceGoneError(ExchangeError):
    """The device went away (unplugged, switched off, the reader program killed, the connection
    reset). On a Link ``code`` is LinkFailure.GONE and ``reconnect()`` brings it back; on a
    Reader ``code`` and ``detail`` are the failed exchange's and the node has vanished."""

    def __init__(self, code: int, detail: int, what: str = "", *,
                 library: Optional[ctypes.CDLL] = None) -> None:
        super().__init__(code, detail, what, library=library)
        if code != LinkFailure.GONE:
            gone = _words(LinkFailure.GONE, 0, library)
            self.words = gone
            prefix = f"{what}: " if what else ""
            self.args = (f"{prefix}{gone} (exchange {code}, detail {detail}; the node is gone)",)


class CancelledError(ExchangeError):
    """Link.cancel() ended the exchange (``code`` is LinkFailure.CANCELLED); the link stays
    usable."""


class RequestTooLongError(ExchangeError, ValueError):
    """A block's count fields ask for more than the 255 bytes one request carries; nothing was
    sent. An ExchangeError (248, detail 104) for callers of old, and a ValueError naming the
    argument."""

    def __init__(self, what: str, length: int, *, library: Optional[ctypes.CDLL] = None) -> None:
        super().__init__(REFUSED_TOO_LONG, REFUSED_TOO_LONG_DETAIL, library=library)
        self.length = length
        self.args = (f"{what}: its count fields make the request {length} bytes; one request "
                     f"carries at most 255, so nothing was sent",)


class LinkError(ExchangeError):
    """Reader.link(): no reader answered. ``code`` is the link function's result, ``detail`` the
    last handshake's exchange code (0 when the device could not be opened at all)."""

    def __init__(self, code: int, detail: int, where: str, *, words: Optional[str] = None,
                 library: Optional[ctypes.CDLL] = None) -> None:
        UhfError.__init__(self)
        self.code = code
        self.detail = detail
        self.words = words or (_words(detail, 0, library) if detail else "no reader answered")
        self.args = (f"no reader answers on {where} (link {code}, last handshake {detail}): "
                     f"{self.words}",)


class OpenError(UhfError):
    """A Link could not be opened or reconnected. ``code`` is the library's result: a negative
    LinkFailure (``failure`` names it), or the last handshake's exchange code when the device
    opened but no reader answered (``failure`` is None then). ``device`` is the device string."""

    def __init__(self, code: int, device: str, addr: int = 1, *,
                 library: Optional[ctypes.CDLL] = None) -> None:
        self.code = code
        self.device = device
        self.addr = addr
        try:
            self.failure: Optional[LinkFailure] = LinkFailure(code)
        except ValueError:
            self.failure = None
        self.words = _words(code, 0, library)
        if self.failure is None:
            message = (f"cannot open {device!r}: no reader answered the handshake at address "
                       f"0x{addr:02X}: {self.words} (exchange {code})")
        else:
            message = f"cannot open {device!r}: {self.words} ({self.failure.name}, {code})"
        super().__init__(message)


class LinkClosedError(UhfError):
    """A call on a Link after close()."""

    def __init__(self, device: str) -> None:
        super().__init__(f"the link to {device!r} is closed")
        self.code = int(LinkFailure.CLOSED)


class ReaderStatusError(UhfError):
    """The reader answered with a non-zero status byte ``status``; ``data`` is what the command
    copied from the reply all the same (b"" when it copies nothing). What a status byte means
    is the reader's."""

    def __init__(self, status: int, data: bytes, what: str = "") -> None:
        self.status = status
        self.data = data
        prefix = f"{what}: " if what else ""
        super().__init__(f"{prefix}reader status 0x{status:02X}")


class TagListFormatError(UhfError, ValueError):
    """A tag list page does not follow the virtual reader's layout; ``page`` holds it raw."""

    def __init__(self, page: bytes, why: str) -> None:
        self.page = page
        super().__init__(f"tag list page of {len(page)} bytes: {why}")
