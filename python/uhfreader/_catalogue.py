"""The library's command catalogue (uhf_command_at) as Python values.

Every command's name, code, arguments (names, kinds, sizes, ranges), copy rule and result rule
come from the library itself; nothing here restates the table. What this module adds is words
for the catalogue's kinds, layouts and rules, for docstrings and error messages.
"""

from __future__ import annotations

import ctypes
import re
import threading
from dataclasses import dataclass, field
from typing import Dict, Optional, Tuple

from . import _library

# Argument kinds (uhf_arg_info::kind).
SCALAR8, SCALAR16, BLOCK, REPLY, BLOCK_REPLY = 1, 2, 3, 4, 5
# Block layouts (uhf_arg_info::block).
FIXED, SELECT, BITS, WORDS3, WORDS4, WORDS5, CUSTOM, PREFIXED, HASH, CIPHER = range(1, 11)
# Copy rules (uhf_command_info::copy).
COPY_NONE, COUNTED, SELF_COUNTED, TOTAL_LENGTH, STATUS_ECHO, COPY_FIXED, TWO_BYTE = range(7)
# Result rules (uhf_command_info::result).
RESULT_STATUS, RESULT_EXCHANGE = 1, 2

FAMILIES = {1: "admin", 2: "epc", 3: "gb", 4: "gjb", 5: "gb_fd", 6: "gjb_fd", 7: "psam", 8: "fm151m"}

_LAYOUT_WORDS = {
    SELECT: "byte 0 is the block's total length, itself included",
    BITS: "byte 3 counts bits: 4 + ceil(bits / 8) bytes",
    WORDS3: "byte 2 counts 16-bit words: 3 + 2w bytes",
    WORDS4: "byte 3 counts 16-bit words: 4 + 2w bytes",
    WORDS5: "bytes 3-4 (big-endian) count 16-bit words: 5 + 2w bytes",
    CUSTOM: "bytes 0-1 (big-endian) count bits: 5 + ceil(bits / 8) bytes",
    PREFIXED: "byte 0 counts the bytes after it: 1 + n bytes",
    HASH: "byte 2 counts the body after a 3-byte header: 3 + n bytes",
    CIPHER: "byte 4 counts the body after a 5-byte header: 5 + n bytes",
}

_COPY_WORDS = {
    COUNTED: "byte 0 = n, then n bytes (n + 1 in all)",
    SELF_COUNTED: "byte 0 = n, its own length included (n bytes, at least 1)",
    TOTAL_LENGTH: "bytes 0-1 (big-endian) = the total length, themselves included",
    TWO_BYTE: "bytes 0-1 (big-endian) = c, then c bytes (c + 2 in all)",
}

# The most each copy rule writes, for a buffer that is also a request block.
_COPY_ROOM = {COUNTED: 256, SELF_COUNTED: 255, TOTAL_LENGTH: 2048, TWO_BYTE: 2048, STATUS_ECHO: 1}


def method_name(c_name: str) -> str:
    """GetDeviceInfo -> get_device_info, EPC_Read_TAG -> epc_read_tag."""
    return re.sub(r"(?<=[a-z])(?=[A-Z])", "_", c_name).lower()


@dataclass(frozen=True)
class Argument:
    """One argument of a command after the reader address, as the catalogue describes it."""

    name: str
    kind: int
    block: int  # a layout for blocks, 0 otherwise
    size: int   # fixed blocks: bytes sent; counted blocks: header bytes; replies: most copied
    min: int
    max: int

    @property
    def is_scalar(self) -> bool:
        return self.kind in (SCALAR8, SCALAR16)

    @property
    def is_block(self) -> bool:
        return self.kind in (BLOCK, BLOCK_REPLY)

    @property
    def is_parameter(self) -> bool:
        """Whether a Python caller passes it (a reply buffer is returned instead)."""
        return self.kind != REPLY

    @property
    def takes_int(self) -> bool:
        """A one-byte block may be given as an int."""
        return self.is_block and self.block == FIXED and self.size == 1

    def describe(self) -> str:
        if self.is_scalar:
            sent = "one byte" if self.kind == SCALAR8 else "two bytes, high byte first"
            return f"int {self.min}..{self.max}, sent as {sent}"
        if self.block == FIXED:
            text = f"{self.size} bytes" + (" (or an int 0..255)" if self.size == 1 else "")
        else:
            text = f"bytes-like, {_LAYOUT_WORDS.get(self.block, 'counted')}"
        return text + ("; then receives the reply's copy" if self.kind == BLOCK_REPLY else "")


@dataclass(frozen=True)
class Command:
    """One command of the library's catalogue."""

    name: str
    code: int
    family: str
    args: Tuple[Argument, ...]
    copy: int
    copy_size: int
    copy_arg: int
    result: int
    summary: str
    changes: bool  # may change the reader, a tag or a security module; False: only reads
    info: "ctypes._Pointer[_library.CommandInfo]" = field(repr=False, compare=False)

    @property
    def method_name(self) -> str:
        return method_name(self.name)

    @property
    def status_echo(self) -> bool:
        """Whether the reply's byte 0 comes back into byte 0 of the request block."""
        return self.copy == STATUS_ECHO

    @property
    def parameters(self) -> Tuple[Argument, ...]:
        return tuple(a for a in self.args if a.is_parameter)

    def copy_room(self, arg: Argument) -> int:
        """Bytes a buffer needs for argument ``arg`` when it receives the copy."""
        if self.copy == COPY_FIXED:
            return max(arg.size, self.copy_size)
        return max(arg.size, _COPY_ROOM.get(self.copy, 0))

    def describe_result(self, echo_as_int: bool) -> str:
        if self.copy == COPY_NONE:
            return "None"
        if self.copy == STATUS_ECHO:
            target = self.args[self.copy_arg].name
            what = "int" if echo_as_int else "bytes (1 byte)"
            return (f"{what}: the reply byte echoed into byte 0 of {target} (a writable {target}, "
                    "such as a bytearray, is updated in place too)")
        if self.copy == COPY_FIXED:
            return f"bytes: the {self.copy_size} bytes copied from the reply"
        return f"bytes: the reply as copied, {_COPY_WORDS[self.copy]}"


_lock = threading.Lock()
_catalogues: Dict[int, Tuple[Command, ...]] = {}


def _command(ptr: "ctypes._Pointer[_library.CommandInfo]", has_column: bool) -> Command:
    c = ptr.contents
    # A 1.1 library built before the column has no such field: every command may change then.
    changes = bool(c.changes) if has_column else True
    args = tuple(
        Argument(_library.text(a.name), a.kind, a.block, a.size, int(a.min), int(a.max))
        for a in c.args[: c.arg_count]
    )
    return Command(_library.text(c.name), c.code, FAMILIES.get(c.family, str(c.family)), args,
                   c.copy, c.copy_size, c.copy_arg, c.result, _library.text(c.summary), changes, ptr)


def catalogue(lib: Optional[ctypes.CDLL] = None) -> Tuple[Command, ...]:
    """Every command the library knows, in its catalogue's order."""
    lib = lib if lib is not None else _library.load()
    with _lock:
        if id(lib) not in _catalogues:
            _catalogues[id(lib)] = tuple(
                _command(lib.uhf_command_at(i), hasattr(lib, "uhf_cancel"))
                for i in range(lib.uhf_command_count()))
        return _catalogues[id(lib)]


def find(name: str, lib: Optional[ctypes.CDLL] = None) -> Command:
    """A command by its C name (``EPC_Read_TAG``) or method name (``epc_read_tag``)."""
    for c in catalogue(lib):
        if name in (c.name, c.method_name):
            return c
    raise KeyError(name)
