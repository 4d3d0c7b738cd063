"""Inventory rounds over the virtual reader's tag-list layout (docs/simulator.md, "Tag list").

A page is what one *_Read_Tag_List copies, a total-length block:

    [t hi, t lo, in list hi, in list lo, here, entry...]
    entry: [n, ID (n - 3 bytes), RSSI (signed dBm), antenna, reads in the round]

The layout is the virtual reader's own; a real reader's may differ, which is why every Tag keeps
its page raw and a page that does not parse raises TagListFormatError holding it.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Iterator, Tuple

from ._errors import ReaderStatusError, TagListFormatError

FAMILIES = ("epc", "gb", "gjb")
NO_TAG = 0x02  # the virtual reader's status byte for a round in which no tag answered
_HEADER = 5


@dataclass(frozen=True)
class Tag:
    """One tag of a tag list page."""

    id: bytes
    rssi: int      # dBm
    antenna: int
    reads: int     # how often it answered in the round
    family: str
    page: bytes = field(repr=False, compare=False)  # the raw page it came from

    @property
    def epc(self):
        """The id as a GS1 EPC (uhfreader.epc.Epc), or None for an id that is not one."""
        if self.family != "epc":
            return None
        from .epc import try_decode
        return try_decode(self.id)


@dataclass(frozen=True)
class TagListPage:
    """One parsed page: ``in_list`` entries in the round, ``tags`` those on this page."""

    raw: bytes
    in_list: int
    tags: Tuple[Tag, ...]


def parse_tag_list(raw: bytes, family: str = "epc") -> TagListPage:
    """Parses one page in the virtual reader's layout; TagListFormatError (holding the page)
    when it does not follow it."""
    raw = bytes(raw)
    if len(raw) < _HEADER:
        raise TagListFormatError(raw, f"shorter than the {_HEADER}-byte header")
    total = raw[0] << 8 | raw[1]
    if total != len(raw):
        raise TagListFormatError(raw, f"its total-length field says {total}")
    in_list = raw[2] << 8 | raw[3]
    here = raw[4]
    tags = []
    at = _HEADER
    for i in range(here):
        n = raw[at] if at < len(raw) else 0
        if n < 3 or at + 1 + n > len(raw):
            raise TagListFormatError(raw, f"entry {i} at byte {at} does not fit the page")
        entry = raw[at + 1: at + 1 + n]
        rssi = entry[-3] - 256 if entry[-3] > 127 else entry[-3]
        tags.append(Tag(entry[:-3], rssi, entry[-2], entry[-1], family, raw))
        at += 1 + n
    if at != len(raw):
        raise TagListFormatError(raw, f"{len(raw) - at} bytes left after {here} entries")
    if here > in_list:
        raise TagListFormatError(raw, f"{here} entries of a list of {in_list}")
    return TagListPage(raw, in_list, tuple(tags))


def inventory(reader: Any, family: str, *, query: bool = True) -> Iterator[Tag]:
    """The tags of one round, page by page, on a Link or a Reader."""
    if family not in FAMILIES:
        raise ValueError(f"inventory: family must be one of {', '.join(FAMILIES)}, got {family!r}")
    query_on = getattr(reader, f"{family}_query_on")
    read_list = getattr(reader, f"{family}_read_tag_list")

    def rounds() -> Iterator[Tag]:
        if query:
            try:
                query_on()
            except ReaderStatusError as e:
                if e.status == NO_TAG:
                    return
                raise
        first = 0
        while True:
            page = parse_tag_list(read_list(first, 0), family)
            yield from page.tags
            first += len(page.tags)
            # The first entry asked for is one byte: a list longer than 255 ends there.
            if not page.tags or first >= page.in_list or first > 255:
                return

    return rounds()
