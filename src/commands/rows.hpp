// The command table's machinery. Every command is one row in a family's .def file:
//
//   UHF_ROW(name, code, family, access, copy rule, fixed copy size, bytes cleared, result rule,
//           summary, arguments after the address...)
//
// where access is READS for a command that only reads (the reader's settings, a tag's memory,
// an inventory round and its list, a security chip's identity or random numbers) and CHANGES
// for one that may change the reader, a tag or a security module (settings, address, line
// rate, writes, kill, lock, passwords, tag selection, raw pass-through): front ends that let
// the public read but not change take it from here.
//
// and each row is expanded three times: into the designed function (designed.cpp), its link
// twin (twins.cpp) and its catalogue entry (catalogue.cpp). An argument is one of
//
//   I8(name)                 an int whose low 8 bits are sent
//   I8R(name, min, max)      the same, with the values a caller should pass
//   I16(name)                an int whose low 16 bits are sent, high byte first
//   BLK(name, layout, size)  request bytes from a caller's block: FIXED size bytes, or a counted
//                            layout (SELECT, BITS, WORDS3/4/5, CUSTOM, PREFIXED, HASH, CIPHER)
//                            whose header is `size` bytes
//   OUT(name, room)          a caller's buffer that receives the copy, `room` bytes at most
//   BLKOUT(name, layout, size, room)  both: request bytes first, then the copy
//
// Request data is the arguments' bytes in order; the copy goes to the OUT/BLKOUT argument, or
// for a status echo into the (first) block.
#pragma once

#define UHF_CAT(a, b) UHF_CAT_(a, b)
#define UHF_CAT_(a, b) a##b

#define UHF_FE_0(m)
#define UHF_FE_1(m, a) m(a)
#define UHF_FE_2(m, a, b) m(a) m(b)
#define UHF_FE_3(m, a, b, c) m(a) m(b) m(c)
#define UHF_FE_4(m, a, b, c, d) m(a) m(b) m(c) m(d)
#define UHF_FE_PICK(_1, _2, _3, _4, N, ...) UHF_FE_##N
// m(arg) for each argument, zero to four of them.
#define UHF_FOR_EACH(m, ...) UHF_FE_PICK(__VA_ARGS__ __VA_OPT__(, ) 4, 3, 2, 1, 0)(m __VA_OPT__(, ) __VA_ARGS__)
#define UHF_COUNT(...) UHF_FE_PICK(__VA_ARGS__ __VA_OPT__(, ) 4, 3, 2, 1, 0)(UHF_ONE __VA_OPT__(, ) __VA_ARGS__) 0
#define UHF_ONE(x) 1 +

// ", int a" / ", unsigned char *block": the parameter list after `int addr`.
#define UHF_DECL(arg) , UHF_CAT(UHF_DECL_, arg)
#define UHF_DECL_I8(n) int n
#define UHF_DECL_I8R(n, lo, hi) int n
#define UHF_DECL_I16(n) int n
#define UHF_DECL_BLK(n, layout, size) unsigned char *n
#define UHF_DECL_OUT(n, room) unsigned char *n
#define UHF_DECL_BLKOUT(n, layout, size, room) unsigned char *n

// Initialisers of the scalars[] and buffers[] arrays, indexed by argument position.
#define UHF_SCALAR(arg) UHF_CAT(UHF_SCALAR_, arg),
#define UHF_SCALAR_I8(n) n
#define UHF_SCALAR_I8R(n, lo, hi) n
#define UHF_SCALAR_I16(n) n
#define UHF_SCALAR_BLK(n, layout, size) 0
#define UHF_SCALAR_OUT(n, room) 0
#define UHF_SCALAR_BLKOUT(n, layout, size, room) 0

#define UHF_BUFFER(arg) UHF_CAT(UHF_BUFFER_, arg),
#define UHF_BUFFER_I8(n) nullptr
#define UHF_BUFFER_I8R(n, lo, hi) nullptr
#define UHF_BUFFER_I16(n) nullptr
#define UHF_BUFFER_BLK(n, layout, size) n
#define UHF_BUFFER_OUT(n, room) n
#define UHF_BUFFER_BLKOUT(n, layout, size, room) n

#define UHF_ACCESS_READS false
#define UHF_ACCESS_CHANGES true

// The catalogue's description of each argument.
#define UHF_INFO(arg) UHF_CAT(UHF_INFO_, arg),
#define UHF_INFO_I8(n) uhf_arg_info{#n, UHF_ARG_SCALAR8, 0, 0, 0, 255}
#define UHF_INFO_I8R(n, lo, hi) uhf_arg_info{#n, UHF_ARG_SCALAR8, 0, 0, lo, hi}
#define UHF_INFO_I16(n) uhf_arg_info{#n, UHF_ARG_SCALAR16, 0, 0, 0, 65535}
#define UHF_INFO_BLK(n, layout, size) uhf_arg_info{#n, UHF_ARG_BLOCK, UHF_BLOCK_##layout, size, 0, 0}
#define UHF_INFO_OUT(n, room) uhf_arg_info{#n, UHF_ARG_REPLY, 0, room, 0, 0}
#define UHF_INFO_BLKOUT(n, layout, size, room) uhf_arg_info{#n, UHF_ARG_BLOCK_REPLY, UHF_BLOCK_##layout, size, 0, 0}

namespace uhf {

// Every command's position in the catalogue.
enum class RowId : int {
#define UHF_ROW(name, ...) name,
#include "commands/all.def"
#undef UHF_ROW
};

}  // namespace uhf
