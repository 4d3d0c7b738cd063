"""GS1 EPC identifiers: binary ids decoded to URIs, GS1 element strings and fields, and tag URIs
encoded to the bytes to write, by the library's own decoder (uhf_epc_*; see docs/epc.md).

    from uhfreader import epc

    e = epc.decode("3074257BF7194E4000001A85")
    e.uri         # 'urn:epc:id:sgtin:0614141.812345.6789'
    e.tag_uri     # 'urn:epc:tag:sgtin-96:3.0614141.812345.6789'
    e.gs1         # '(01)80614141123458(21)6789'
    e.fields      # {'company_prefix': '0614141', 'item_reference': '812345', 'serial': '6789'}
    epc.encode("urn:epc:tag:sscc-96:0.0614141.1234567890")   # bytes, whole 16-bit words

An id that is not a GS1 EPC raises EpcError (a ValueError) with the library's code and words;
``try_decode`` returns None instead, as ``Tag.epc`` does.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass, field
from typing import Dict, Optional, Union

from ._library import load

URI_MAX = 256
GS1_MAX = 96
FIELD_MAX = 40
FIELDS = 5
BYTES_MAX = 56


class _Field(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("value", ctypes.c_char * FIELD_MAX)]


class _Epc(ctypes.Structure):
    _fields_ = [
        ("scheme", ctypes.c_int),
        ("name", ctypes.c_char_p),
        ("bits", ctypes.c_int),
        ("filter", ctypes.c_int),
        ("field_count", ctypes.c_int),
        ("field", _Field * FIELDS),
        ("uri", ctypes.c_char * URI_MAX),
        ("tag_uri", ctypes.c_char * URI_MAX),
        ("gs1", ctypes.c_char * GS1_MAX),
    ]


class EpcError(ValueError):
    """A refusal of the library's EPC functions: ``code`` (UHF_EPC_ERR_*) and its words."""

    def __init__(self, code: int, words: str, what: str) -> None:
        super().__init__(f"{what}: {words}")
        self.code = code
        self.words = words


@dataclass(frozen=True)
class Epc:
    """A decoded GS1 EPC."""

    scheme: str                  # the tag URI's scheme name: 'sgtin-96', 'cpi-var', ...
    uri: str                     # pure identity URI
    tag_uri: str                 # tag URI, with the filter
    gs1: Optional[str]           # GS1 element string, None where the scheme has none
    filter: Optional[int]        # None for GID-96
    bits: int                    # bits the encoding takes
    fields: Dict[str, str] = field(default_factory=dict)  # in URI order, %-escapes undone

    @property
    def company_prefix(self) -> Optional[str]:
        return self.fields.get("company_prefix")

    @property
    def serial(self) -> Optional[str]:
        return self.fields.get("serial")


def _lib(library: Optional[str]) -> ctypes.CDLL:
    lib = load(library)
    lib.uhf_epc_decode.restype = ctypes.c_int
    lib.uhf_epc_decode.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_Epc)]
    lib.uhf_epc_encode.restype = ctypes.c_int
    lib.uhf_epc_encode.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
    lib.uhf_epc_strerror.restype = ctypes.c_char_p
    lib.uhf_epc_strerror.argtypes = [ctypes.c_int]
    return lib


def _bytes(epc_id: Union[bytes, bytearray, memoryview, str]) -> bytes:
    if isinstance(epc_id, str):
        return bytes.fromhex(epc_id.replace(":", " ").replace("-", " "))
    return bytes(epc_id)


def decode(epc_id: Union[bytes, bytearray, memoryview, str], *, library: Optional[str] = None) -> Epc:
    """The binary id (bytes, or hex text) as a GS1 EPC; EpcError when it is not one."""
    raw = _bytes(epc_id)
    lib = _lib(library)
    out = _Epc()
    rc = lib.uhf_epc_decode(raw, len(raw), ctypes.byref(out))
    if rc != 0:
        raise EpcError(rc, lib.uhf_epc_strerror(rc).decode(), raw.hex().upper())
    fields = {out.field[i].name.decode(): out.field[i].value.decode() for i in range(out.field_count)}
    return Epc(scheme=out.name.decode(), uri=out.uri.decode(), tag_uri=out.tag_uri.decode(),
               gs1=out.gs1.decode() or None, filter=out.filter if out.filter >= 0 else None,
               bits=out.bits, fields=fields)


def try_decode(epc_id: Union[bytes, bytearray, memoryview, str], *,
               library: Optional[str] = None) -> Optional[Epc]:
    """decode(), or None for an id that is not a GS1 EPC."""
    try:
        return decode(epc_id, library=library)
    except (EpcError, ValueError):
        return None


def encode(tag_uri: str, *, library: Optional[str] = None) -> bytes:
    """The bytes a tag URI (urn:epc:tag:...) encodes to, padded to whole 16-bit words."""
    lib = _lib(library)
    out = ctypes.create_string_buffer(BYTES_MAX)
    n = lib.uhf_epc_encode(tag_uri.encode(), out, BYTES_MAX)
    if n < 0:
        raise EpcError(n, lib.uhf_epc_strerror(n).decode(), tag_uri)
    return out.raw[:n]
