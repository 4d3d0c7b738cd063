"""Finding and describing the shared library: prototypes and exported variables."""

import ctypes
import ctypes.util
import os

_u8 = ctypes.c_ubyte
_buf = ctypes.POINTER(ctypes.c_ubyte)
_int = ctypes.c_int

# Transport and link functions the Reader calls by name; the commands get their prototypes
# from the command table.
_PROTOTYPES = {
    "PcSendOrder": (),
    "LinkCom": (_int, _int, _int),
    "LinkCom_Path": (_int, ctypes.c_char_p, _int),
    "UnLinkCom": (),
}

# name -> ctypes type, for every exported variable.
VARIABLES = {
    "pc_id": _u8,
    "IcCmd": _u8,
    "BlkAAdrBeg": _u8 * 2048,
    "BlkALength": _u8,
    "BlkBAdrBeg": _u8 * 2048,
    "BlkBLength": ctypes.c_uint32,
    "ErrorCode": _u8,
    "IcRetCode": _u8,
    "USB_Flag": _u8,
    "idComDev": _int,
    "qchar": _u8,
    "pc_id_buf": _u8,
    "IcCmd_buf": _u8,
    "TRYNUM2S": _int,
    "TRYNUM2L": _int,
    "usb_devs": ctypes.c_void_p,
    "usb_dev": ctypes.c_void_p,
    "q_usb_handle": ctypes.c_void_p,
    "EP_OUT": _int,
    "EP_IN": _int,
    "IcBaudRate": _int,
}


def _candidates(explicit):
    if explicit:
        yield explicit
        return
    env = os.environ.get("UHFREADER_LIBRARY")
    if env:
        yield env
        return
    try:
        from . import _installed  # written by cmake --install

        yield _installed.LIBRARY
    except ImportError:
        pass
    found = ctypes.util.find_library("uhfreader")
    if found:
        yield found
    yield "libuhfreader.so.1"


def load(path=None):
    """Loads the library: `path`, else $UHFREADER_LIBRARY, else the one this package was
    installed with, else the loader's search path."""
    errors = []
    for candidate in _candidates(path):
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as e:
            errors.append(str(e))
            continue
        for name, args in _PROTOTYPES.items():
            fn = getattr(lib, name)
            fn.argtypes = list(args)
            fn.restype = _int
        return lib
    raise OSError(
        "cannot load libuhfreader (set UHFREADER_LIBRARY to its path): " + "; ".join(errors)
    )


def variable(lib, name):
    return VARIABLES[name].in_dll(lib, name)


BUFFER = _buf
INT = _int
