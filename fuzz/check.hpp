// What every fuzz target holds the library to, beyond "it did not crash".
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "core/frame.hpp"

namespace uhffuzz {

// A broken invariant is a finding: abort with a line saying which, so the fuzzer keeps the input.
#define UHF_FUZZ_CHECK(cond)                                                                 \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

// The exchange and detail codes a reply decode may end with, as the public header lists them;
// written out here rather than taken from the codec so a new, undocumented pair is caught.
// detail -1: IcRetCode is left as it was.
struct Pair {
    int code;
    int detail;
    bool serial;
    bool usb;
};

inline constexpr Pair kDecodePairs[] = {
    {0, 0, true, true},
    {235, 110, false, true},  // the transfer does not start with 0x10
    {236, 111, true, true},   // a short transfer ends like a line that fell silent
    {237, 112, true, true},
    {238, 111, true, true},
    {239, 112, true, true},
    {240, 112, true, true},
    {241, 113, true, true},
    {241, 114, true, true},
    {242, 115, true, true},
    {243, 116, true, true},
    {244, 117, true, true},
    {245, 118, true, true},
    {246, 117, true, true},
    {247, 118, true, true},
    {253, -1, true, true},
    {254, -1, true, false},  // USB tests the echoed command as soon as it is read
};

inline bool documented(uhf::Outcome o, uhf::Wire wire) {
    for (const Pair &p : kDecodePairs) {
        if (p.code != o.code || p.detail != o.detail) continue;
        return wire == uhf::Wire::serial ? p.serial : p.usb;
    }
    return false;
}

}  // namespace uhffuzz
