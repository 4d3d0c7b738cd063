// Where the fields of a tag-list page sit. The library copies a tag list without reading it, and
// a real reader's format is the reader's own, so the decoding is data: a named layout of offsets
// and sizes. The virtual reader's layout is built in (docs/simulator.md):
//
//   page:  [t hi, t lo, in list hi, in list lo, here, entry...]
//   entry: [n, id (n-3 bytes), rssi (signed dBm), antenna, reads in the round]
//
// A raw layout decodes nothing: each page goes on as its bytes.
#pragma once

#include <optional>
#include <string>

namespace inventory {

// An unsigned (or two's-complement signed) integer of 1..4 bytes. Entry fields at a negative
// offset count from the entry's end (-1 is its last byte); page fields count from the page's start.
struct Field {
    int offset = 0;
    int size = 0;  // 0: the layout has no such field
    bool is_signed = false;

    bool present() const { return size > 0; }
    bool operator==(const Field&) const = default;
};

// The tag's id: `size` bytes from `offset`, or (size 0) from `offset` up to `end` (<= 0: from the
// entry's end, so -3 stops three bytes short of it).
struct IdField {
    int offset = 0;
    int size = 0;
    int end = 0;
    bool operator==(const IdField&) const = default;
};

struct Layout {
    std::string name;
    bool raw = false;
    bool little_endian = false;  // multi-byte fields; the reader's own order

    Field total;     // page: its length, itself included; absent: the whole copy
    Field in_list;   // page: entries in the round's whole list; absent: one page per round
    Field count;     // page: entries in this page
    int entries = 0; // page offset of the first entry
    int trailer = 0; // bytes after the last entry

    int entry_size = 0;        // every entry this long; 0: entry_length says
    Field entry_length;        // entry: a length field ...
    int entry_length_add = 0;  // ... the entry being its value plus this many bytes

    IdField id;
    Field rssi;     // dBm
    Field antenna;
    Field reads;    // reads in the round; absent: each entry counts as one read

    // Every field, so a reload sees any edit of a [layouts.NAME] table.
    bool operator==(const Layout&) const = default;
};

const Layout& virtual_layout();
Layout raw_layout();

// Why a layout cannot be used (a field that cannot fit, no way to tell an entry's length, ...),
// or nullopt when it is sound. Checked once, when a layout is configured.
std::optional<std::string> check(const Layout& layout);

}  // namespace inventory
