"""Finding and loading libuhfreader, and its C declarations as ctypes sees them.

Where the library is looked for, first match wins:

1. the ``library`` argument of :func:`load` (and of ``Link``, ``Reader``, ...);
2. ``$UHFREADER_LIBRARY``;
3. the library this package was installed beside by ``cmake --install`` (``_installed.py``);
4. the system loader: ``ctypes.util.find_library("uhfreader")``, then ``libuhfreader.so.1``.

A path given by 1 or 2 is the only one tried, so a wrong one fails loudly instead of quietly
loading another copy.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from typing import Any, Dict, Iterator, Optional

c_int = ctypes.c_int
c_ubyte = ctypes.c_ubyte
BYTES = ctypes.POINTER(ctypes.c_ubyte)
LINK = ctypes.c_void_p

# void (*uhf_trace_fn)(void *user, int direction, const unsigned char *bytes, int len,
#                      unsigned long long t_us)
TRACE_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, c_int, BYTES, c_int, ctypes.c_ulonglong)


class ArgInfo(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("kind", c_int),
        ("block", c_int),
        ("size", c_int),
        ("min", ctypes.c_long),
        ("max", ctypes.c_long),
    ]


class CommandInfo(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("code", c_int),
        ("family", c_int),
        ("arg_count", c_int),
        ("args", ArgInfo * 4),
        ("copy", c_int),
        ("copy_size", c_int),
        ("copy_arg", c_int),
        ("clears", c_int),
        ("result", c_int),
        ("summary", ctypes.c_char_p),
        ("changes", c_int),
    ]


class Options(ctypes.Structure):
    _fields_ = [
        ("handshake_attempts", c_int),
        ("reply_timeout_ms", c_int),
        ("connect_timeout_ms", c_int),
        ("trace", TRACE_FN),
        ("trace_user", ctypes.c_void_p),
    ]


class DeviceInfoStruct(ctypes.Structure):
    _fields_ = [
        ("kind", c_int),
        ("device", ctypes.c_char * 128),
        ("node", ctypes.c_char * 128),
        ("by_id", ctypes.c_char * 256),
        ("driver", ctypes.c_char * 32),
        ("vendor", ctypes.c_ushort),
        ("product", ctypes.c_ushort),
        ("manufacturer", ctypes.c_char * 64),
        ("product_name", ctypes.c_char * 64),
        ("serial", ctypes.c_char * 64),
        ("bus", c_int),
        ("address", c_int),
        ("port_path", ctypes.c_char * 32),
    ]


COMMAND = ctypes.POINTER(CommandInfo)

# name -> (restype, argtypes) of every function this package calls by name.
_PROTOTYPES = {
    "uhf_open_with": (c_int, (ctypes.POINTER(LINK), ctypes.c_char_p, c_int, ctypes.POINTER(Options))),
    "uhf_set_options": (c_int, (LINK, ctypes.POINTER(Options))),
    "uhf_close": (None, (LINK,)),
    "uhf_reconnect": (c_int, (LINK,)),
    "uhf_exchange": (c_int, (LINK, c_int, c_int, BYTES, c_int, BYTES, c_int, ctypes.POINTER(c_int))),
    "uhf_status": (c_int, (LINK,)),
    "uhf_detail": (c_int, (LINK,)),
    "uhf_device": (ctypes.c_char_p, (LINK,)),
    "uhf_strerror": (ctypes.c_char_p, (c_int, c_int)),
    "uhf_set_trace": (c_int, (LINK, TRACE_FN, ctypes.c_void_p)),
    "uhf_list_devices": (c_int, (ctypes.POINTER(DeviceInfoStruct), c_int)),
    "uhf_version": (ctypes.c_char_p, ()),
    "uhf_command_count": (c_int, ()),
    "uhf_command_at": (COMMAND, (c_int,)),
    "uhf_block_length": (c_int, (COMMAND, c_int, BYTES, c_int)),
    "uhf_copy_length": (c_int, (COMMAND, BYTES)),
    "uhf_call": (c_int, (LINK, COMMAND, c_int, ctypes.POINTER(c_int), ctypes.POINTER(BYTES))),
    "uhf_cancel": (c_int, (LINK,)),
    # The designed interface's link management, for Reader.
    "PcSendOrder": (c_int, ()),
    "LinkCom": (c_int, (c_int, c_int, c_int)),
    "LinkCom_Path": (c_int, (c_int, ctypes.c_char_p, c_int)),
    "UnLinkCom": (c_int, ()),
}

# Functions that 1.1 libraries built before them lack.
_LATER = frozenset({"uhf_cancel"})

# The designed interface's exported variables: name -> ctypes type.
VARIABLES: Dict[str, Any] = {
    "pc_id": c_ubyte,
    "IcCmd": c_ubyte,
    "BlkAAdrBeg": c_ubyte * 2048,
    "BlkALength": c_ubyte,
    "BlkBAdrBeg": c_ubyte * 2048,
    "BlkBLength": ctypes.c_uint32,
    "ErrorCode": c_ubyte,
    "IcRetCode": c_ubyte,
    "USB_Flag": c_ubyte,
    "idComDev": c_int,
    "qchar": c_ubyte,
    "pc_id_buf": c_ubyte,
    "IcCmd_buf": c_ubyte,
    "TRYNUM2S": c_int,
    "TRYNUM2L": c_int,
    "usb_devs": ctypes.c_void_p,
    "usb_dev": ctypes.c_void_p,
    "q_usb_handle": ctypes.c_void_p,
    "EP_OUT": c_int,
    "EP_IN": c_int,
    "IcBaudRate": c_int,
}

_lock = threading.Lock()
_loaded: Dict[Optional[str], ctypes.CDLL] = {}


def _candidates(explicit: Optional[str]) -> Iterator[str]:
    if explicit:
        yield explicit
        return
    env = os.environ.get("UHFREADER_LIBRARY")
    if env:
        yield env
        return
    try:
        from . import _installed  # type: ignore[attr-defined]  # written by cmake --install

        yield _installed.LIBRARY
    except ImportError:
        pass
    found = ctypes.util.find_library("uhfreader")
    if found:
        yield found
    yield "libuhfreader.so.1"


def _declare(lib: ctypes.CDLL, path: str) -> None:
    if not hasattr(lib, "uhf_call"):
        raise OSError(f"{path} is libuhfreader 1.0, without the link API this package needs "
                      "(1.1 or later); set UHFREADER_LIBRARY to a newer build")
    for name, (restype, argtypes) in _PROTOTYPES.items():
        if name in _LATER and not hasattr(lib, name):
            continue  # an older 1.1 library; the methods that need it say so when called
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = list(argtypes)


def load(path: "Optional[str | os.PathLike[str]]" = None) -> ctypes.CDLL:
    """Loads the library once per path (see the module's notes for where it looks) and returns
    the CDLL. Raises OSError when no candidate loads."""
    key = os.fspath(path) if path is not None else None
    with _lock:
        if key in _loaded:
            return _loaded[key]
        errors = []
        for candidate in _candidates(key):
            try:
                lib = ctypes.CDLL(candidate)
            except OSError as e:
                errors.append(str(e))
                continue
            _declare(lib, candidate)
            _loaded[key] = lib
            return lib
    raise OSError("cannot load libuhfreader (set UHFREADER_LIBRARY to its path): " + "; ".join(errors))


def variable(lib: ctypes.CDLL, name: str) -> Any:
    """One of the designed interface's exported variables, as a ctypes object in the library."""
    return VARIABLES[name].in_dll(lib, name)


def text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""
