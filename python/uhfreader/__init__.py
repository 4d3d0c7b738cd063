"""Python access to libuhfreader, the driver library for a UHF RFID reader.

    import uhfreader

    with uhfreader.Reader("/dev/ttyUSB0") as reader:       # links on enter, unlinks on exit
        print(reader.get_device_info().hex())
        reply = reader.epc_read_tag(bytes([3, 0, 2, 0]))    # counted reply: [n, n bytes]

Every reader command of the C library is a method named after it in lower case with
underscores (EPC_Read_TAG -> epc_read_tag, GetDeviceInfo -> get_device_info). Blocks go in as
bytes of exactly the length their own counts give; replies come back as the bytes the library
copied, count bytes included, so a block read can be written back unchanged. A command whose
reply is echoed into its request block returns that one echoed byte.

Failures raise instead of returning codes:

- ExchangeError(code, detail): the exchange itself failed (no reply, bad checksum, ...);
- ReaderStatusError(status, data): the reader answered with a non-zero status byte; `data`
  holds whatever the command copied all the same.

The library keeps one link per process; so does this module: one Reader is linked at a time,
and calls from several threads are serialised.
"""

import ctypes
import inspect
import os
import threading

from . import _commands, _library

__all__ = ["Reader", "UhfError", "ExchangeError", "LinkError", "ReaderStatusError", "load"]

_EXCHANGE_WORDS = {
    1: "USB: no device open, or the request could not be sent",
    234: "no reply from the reader",
    235: "no reply, or it did not start like a frame",
    243: "the reply's checksum is wrong",
    248: "the request is too long for one frame",
    253: "the reply came from another reader address",
    254: "the reply answers another command",
}


def describe_exchange(code):
    """A few words for an exchange code."""
    if code in _EXCHANGE_WORDS:
        return _EXCHANGE_WORDS[code]
    if 225 <= code <= 233:
        return "sending the request failed"
    if 236 <= code <= 242:
        return "the reply was cut short or malformed"
    if 244 <= code <= 247:
        return "the reply's end pair is missing or wrong"
    return "exchange failed"


class UhfError(Exception):
    """Base of every error this module raises about the reader."""


class ExchangeError(UhfError):
    """The exchange failed: `code` is the exchange code, `detail` the detail code."""

    def __init__(self, code, detail, what=""):
        self.code = code
        self.detail = detail
        prefix = f"{what}: " if what else ""
        super().__init__(f"{prefix}{describe_exchange(code)} (exchange {code}, detail {detail})")


class LinkError(ExchangeError):
    """No reader answered the link handshake: `code` is the link's result, `detail` the last
    handshake's exchange code."""

    def __init__(self, code, detail, where):
        self.code = code
        self.detail = detail
        if where == "USB" and code == 1:
            # The library cannot say whether the device is missing or may not be opened.
            text = ("no USB reader could be opened: none attached, or no permission "
                    "(install 60-uhfreader.rules, or join the plugdev group)")
        else:
            text = (f"no reader answers on {where} (link {code}, last handshake {detail}: "
                    f"{describe_exchange(detail)})")
        UhfError.__init__(self, text)


class ReaderStatusError(UhfError):
    """The reader answered with a non-zero status byte: `status`; `data` is what the command
    copied from the reply all the same (b"" when it copies nothing)."""

    def __init__(self, status, data, what=""):
        self.status = status
        self.data = data
        prefix = f"{what}: " if what else ""
        super().__init__(f"{prefix}reader status 0x{status:02X}")


_lock = threading.RLock()
_lib = None
_linked = None  # the Reader holding the link


def load(path=None):
    """Loads the library once (see _library.load for where it looks); returns the CDLL."""
    global _lib
    with _lock:
        if _lib is None:
            _lib = _library.load(path)
            for name, args, reply, _result in _commands.COMMANDS:
                fn = getattr(_lib, name)
                argtypes = [_library.INT]
                argtypes += [_library.INT if a is _commands.Int else _library.BUFFER for a in args]
                if reply not in (_commands.NOTHING, _commands.ECHO):
                    argtypes.append(_library.BUFFER)
                if name == "Get_CH_Active":  # its int travels in the reply buffer's byte 0
                    argtypes = [_library.INT, _library.BUFFER]
                fn.argtypes = argtypes
                fn.restype = _library.INT
        return _lib


class Reader:
    """A reader reached over one transport.

    Reader("/dev/ttyUSB0")       a serial node, or a pseudo-terminal such as uhfsim serves
    Reader(port=0)                /dev/ttyS0, then /dev/ttyUSB0
    Reader(usb=True)              the USB reader
    """

    def __init__(self, node=None, *, port=None, usb=False, addr=1, baud=115200, library=None):
        if sum(x is not None and x is not False for x in (node, port, usb or None)) != 1:
            raise ValueError("name exactly one of: node, port, usb=True")
        self.node = os.fspath(node) if node is not None else None
        self.port = 32 if usb else port
        self.addr = addr
        self.baud = baud
        self._lib = load(library)

    # ---- link ----

    def link(self):
        """Links and proves a reader answers; raises LinkError when none does."""
        global _linked
        with _lock:
            if _linked is self:
                return self
            if _linked is not None:
                raise RuntimeError("another Reader holds the link; unlink it first")
            if self.node is not None:
                rc = self._lib.LinkCom_Path(self.addr, os.fsencode(self.node), self.baud)
                where = self.node
            else:
                rc = self._lib.LinkCom(self.addr, self.port, self.baud)
                where = "USB" if self.port == 32 else f"port {self.port}"
            if rc != 0:
                raise LinkError(rc, self._var("IcRetCode"), where)
            _linked = self
            return self

    def unlink(self):
        global _linked
        with _lock:
            if _linked is self:
                self._lib.UnLinkCom()
                _linked = None

    @property
    def linked(self):
        return _linked is self

    def __enter__(self):
        return self.link()

    def __exit__(self, *exc):
        self.unlink()
        return False

    # ---- raw exchange ----

    def exchange(self, cmd, data=b""):
        """One exchange with any command code through PcSendOrder; returns the reply data."""
        data = bytes(data)
        if len(data) > 255:
            raise ValueError("a request carries at most 255 data bytes")
        with _lock:
            self._require_link()
            lib = self._lib
            _library.variable(lib, "pc_id").value = self.addr & 0xFF
            _library.variable(lib, "IcCmd").value = cmd & 0xFF
            ctypes.memmove(_library.variable(lib, "BlkAAdrBeg"), data, len(data))
            _library.variable(lib, "BlkALength").value = len(data)
            _library.variable(lib, "ErrorCode").value = 0
            rc = lib.PcSendOrder()
            if rc != 0:
                raise ExchangeError(rc, self._var("IcRetCode"), f"command 0x{cmd & 0xFF:02X}")
            reply = self.reply_data
            if self._var("ErrorCode") != 0:
                raise ReaderStatusError(self._var("ErrorCode"), reply, f"command 0x{cmd & 0xFF:02X}")
            return reply

    # ---- exchange state ----

    def _var(self, name):
        return _library.variable(self._lib, name).value

    @property
    def reply_data(self):
        """The last reply's data (BlkBAdrBeg up to BlkBLength)."""
        with _lock:
            n = min(self._var("BlkBLength"), 2048)
            return bytes(_library.variable(self._lib, "BlkBAdrBeg")[:n])

    @property
    def request_data(self):
        """BlkAAdrBeg up to BlkALength (on USB: the last piece sent)."""
        with _lock:
            n = self._var("BlkALength")
            return bytes(_library.variable(self._lib, "BlkAAdrBeg")[:n])

    def _require_link(self):
        if _linked is not self:
            raise RuntimeError("this Reader is not linked; use it in a with block or call link()")


def _state_property(c_name):
    def get(self):
        with _lock:
            return self._var(c_name)

    get.__doc__ = f"The library's {c_name}."
    return property(get)


# The exchange state, read-only; the two data arrays are request_data and reply_data.
_STATE_NAMES = {"BlkALength": "blk_a_length", "BlkBLength": "blk_b_length"}
for _c_name in _library.VARIABLES:
    if _c_name not in ("BlkAAdrBeg", "BlkBAdrBeg"):
        _name = _STATE_NAMES.get(_c_name, _commands.method_name(_c_name))
        setattr(Reader, _name, _state_property(_c_name))


def _make_method(c_name, args, reply, result):
    def call(self, *values):
        if len(values) != len(args):
            raise TypeError(f"{method.__name__}() takes {len(args)} arguments ({len(values)} given)")
        if c_name == "ALARM" and values[0] > 7:
            # The library refuses without sending and returns 4, which reads like a status.
            raise ValueError("the first alarm byte must be at most 7")
        c_args = [self.addr]
        echo_block = None
        for kind, value in zip(args, values):
            if kind is _commands.Int:
                c_args.append(int(value))
                continue
            block = bytes(value)
            need = kind.needed(block) if block else None
            if need is None or len(block) != need:
                raise ValueError(
                    f"{method.__name__}: {kind.describe}; got {len(block)} bytes"
                    + (f" where its counts give {need}" if need else "")
                )
            buf = (ctypes.c_ubyte * len(block)).from_buffer_copy(block)
            echo_block = buf
            c_args.append(buf)
        out = None
        if reply not in (_commands.NOTHING, _commands.ECHO):
            out = (ctypes.c_ubyte * 2048)()
            if c_name == "Get_CH_Active":
                out[0] = c_args.pop() & 0xFF
            c_args.append(out)
        with _lock:
            self._require_link()
            lib = self._lib
            _library.variable(lib, "ErrorCode").value = 0
            rc = getattr(lib, c_name)(*c_args)
            detail = self._var("IcRetCode")
            status = self._var("ErrorCode")
        # A status-result command returns the status byte or the exchange code, whose ranges
        # overlap; the exchange failed when it left a detail code or a different status byte.
        exchange_failed = rc != 0 and (result == _commands.EXCHANGE or detail != 0 or rc != status)
        if exchange_failed:
            raise ExchangeError(rc, detail, method.__name__)
        if reply is _commands.NOTHING:
            data = None
        elif reply is _commands.ECHO:
            data = bytes(echo_block[:1])
        else:
            data = bytes(out[: reply(bytes(out[:2]))])
        if status != 0:
            raise ReaderStatusError(status, data if data is not None else b"", method.__name__)
        return data

    method = call
    method.__name__ = _commands.method_name(c_name)
    method.__qualname__ = f"Reader.{method.__name__}"
    names = [("value" if a is _commands.Int else "block") for a in args]
    names = [f"{n}{i + 1}" if names.count(n) > 1 else n for i, n in enumerate(names)]
    method.__signature__ = inspect.Signature(
        [inspect.Parameter("self", inspect.Parameter.POSITIONAL_ONLY)]
        + [inspect.Parameter(n, inspect.Parameter.POSITIONAL_ONLY) for n in names]
    )
    names = ", ".join(names)
    kinds = "; ".join(f"block: {a.describe}" for a in args if a is not _commands.Int)
    returns = {
        _commands.NOTHING: "None",
        _commands.ECHO: "the reader's byte echoed into the block (1 byte)",
    }.get(reply, "the reply bytes the library copied")
    method.__doc__ = f"{c_name}({names}) -> {returns}." + (f" {kinds}." if kinds else "")
    return method


for _row in _commands.COMMANDS:
    setattr(Reader, _commands.method_name(_row[0]), _make_method(*_row))
