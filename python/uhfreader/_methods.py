"""Methods generated from the library's catalogue: one per command, named after it in lower case
(EPC_Read_TAG -> epc_read_tag), with the C header's parameter names, so help() and editors show
``epc_read_tag(self, req: bytes) -> bytes`` and a docstring from the catalogue's summary.

A class that takes them defines ``_run(name, values)``; the methods only bind the caller's
arguments by the real signature and hand them on.
"""

from __future__ import annotations

import ctypes
import inspect
import threading
from typing import Any, Callable, Dict, Set, Type

from . import _catalogue as cat

_P = inspect.Parameter
_lock = threading.Lock()
_done: Set[type] = set()


def _annotation(arg: cat.Argument) -> str:
    if arg.is_scalar:
        return "int"
    return "bytes | int" if arg.takes_int else "bytes"


def _return_annotation(cmd: cat.Command, echo_as_int: bool) -> str:
    if cmd.copy == cat.COPY_NONE:
        return "None"
    return "int" if cmd.copy == cat.STATUS_ECHO and echo_as_int else "bytes"


def docstring(cmd: cat.Command, echo_as_int: bool) -> str:
    lines = [f"{cmd.summary}.", "",
             f"{cmd.name}: command 0x{cmd.code:02X}, {cmd.family} family."]
    if cmd.parameters:
        lines.append("")
        lines += [f"{a.name}: {a.describe()}" for a in cmd.parameters]
    lines += ["", f"Returns {cmd.describe_result(echo_as_int)}.", "",
              "Raises ReaderStatusError when the reader's status byte is not 0 (its data holds "
              "what was copied all the same), ExchangeError when the exchange fails "
              "(DeviceGoneError when the device went away), ValueError or TypeError for an "
              "argument the command cannot send; nothing is sent then."]
    return "\n".join(lines)


def make_method(cmd: cat.Command, echo_as_int: bool) -> Callable[..., Any]:
    params = cmd.parameters
    names = tuple(a.name for a in params)
    signature = inspect.Signature(
        [_P("self", _P.POSITIONAL_OR_KEYWORD)]
        + [_P(a.name, _P.POSITIONAL_OR_KEYWORD, annotation=_annotation(a)) for a in params],
        return_annotation=_return_annotation(cmd, echo_as_int))
    name = cmd.name

    def method(self: Any, *args: Any, **kwargs: Any) -> Any:
        try:
            bound = signature.bind(self, *args, **kwargs)
        except TypeError as e:
            raise TypeError(f"{method.__name__}(): {e}") from None
        return self._run(name, tuple(bound.arguments[n] for n in names))

    method.__name__ = cmd.method_name
    method.__signature__ = signature  # type: ignore[attr-defined]
    method.__doc__ = docstring(cmd, echo_as_int)
    return method


def install(cls: Type[Any], lib: ctypes.CDLL, *, echo_as_int: bool) -> None:
    """Gives ``cls`` a method per catalogue command, once."""
    with _lock:
        if cls in _done:
            return
        for cmd in cat.catalogue(lib):
            method = make_method(cmd, echo_as_int)
            method.__qualname__ = f"{cls.__name__}.{method.__name__}"
            method.__module__ = cls.__module__
            setattr(cls, method.__name__, method)
        _done.add(cls)


def commands_by_name(lib: ctypes.CDLL) -> Dict[str, cat.Command]:
    return {c.name: c for c in cat.catalogue(lib)}
