// GS1 EPC decoding, URI encoding and pattern parsing on arbitrary input.
//
// Input: the bytes as a binary id, and the same bytes as a NUL-ended string for the URI and
// pattern parsers. Each is copied to a buffer of exactly its length, so a read past it is caught.
// Checks: a binary id that decodes encodes again from its tag URI to the same bits (the rest of
// either side zero) and decodes to the same URIs; a tag URI that encodes decodes to a tag URI
// that encodes to the same bytes; every string written is NUL-ended inside its buffer; a parsed
// pattern matches the id it was given without crashing and answers 0 or 1.
#include <cstdint>
#include <cstring>
#include <memory>

#include "check.hpp"
#include "uhfreader.h"

namespace {

bool ended(const char *s, std::size_t cap) { return std::memchr(s, '\0', cap) != nullptr; }

void check_decoded(const uhf_epc &e) {
    UHF_FUZZ_CHECK(ended(e.uri, sizeof e.uri) && ended(e.tag_uri, sizeof e.tag_uri) &&
                   ended(e.gs1, sizeof e.gs1));
    UHF_FUZZ_CHECK(e.field_count > 0 && e.field_count <= UHF_EPC_FIELDS);
    for (int i = 0; i < e.field_count; ++i)
        UHF_FUZZ_CHECK(e.field[i].name && ended(e.field[i].value, sizeof e.field[i].value));
}

void binary_round_trip(const std::uint8_t *data, std::size_t size) {
    auto id = std::make_unique<unsigned char[]>(size ? size : 1);
    if (size) std::memcpy(id.get(), data, size);
    uhf_epc e;
    if (uhf_epc_decode(id.get(), static_cast<int>(size), &e) != 0) return;
    check_decoded(e);
    unsigned char out[UHF_EPC_BYTES_MAX];
    const int n = uhf_epc_encode(e.tag_uri, out, sizeof out);
    UHF_FUZZ_CHECK(n > 0 && n % 2 == 0 && e.bits <= n * 8);
    const std::size_t longer = size > static_cast<std::size_t>(n) ? size : static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < longer; ++i) {
        const unsigned a = i < size ? data[i] : 0, b = i < static_cast<std::size_t>(n) ? out[i] : 0;
        UHF_FUZZ_CHECK(a == b);
    }
    uhf_epc again;
    UHF_FUZZ_CHECK(uhf_epc_decode(out, n, &again) == 0);
    UHF_FUZZ_CHECK(std::strcmp(again.tag_uri, e.tag_uri) == 0 && std::strcmp(again.uri, e.uri) == 0 &&
                   std::strcmp(again.gs1, e.gs1) == 0);
}

void uri_round_trip(const char *uri, const std::uint8_t *data, std::size_t size) {
    unsigned char out[UHF_EPC_BYTES_MAX];
    const int n = uhf_epc_encode(uri, out, sizeof out);
    UHF_FUZZ_CHECK(n < 0 ? n >= UHF_EPC_ERR_PATTERN && n <= UHF_EPC_ERR_ARGUMENT : n % 2 == 0);
    if (n > 0) {
        uhf_epc e;
        UHF_FUZZ_CHECK(uhf_epc_decode(out, n, &e) == 0);
        check_decoded(e);
        unsigned char again[UHF_EPC_BYTES_MAX];
        UHF_FUZZ_CHECK(uhf_epc_encode(e.tag_uri, again, sizeof again) == n);
        UHF_FUZZ_CHECK(std::memcmp(out, again, static_cast<std::size_t>(n)) == 0);
    }
    uhf_epc_pattern p;
    if (uhf_epc_pattern_parse(uri, &p) == 0) {
        UHF_FUZZ_CHECK(p.part_count > 0 && p.part_count <= UHF_EPC_PATTERN_PARTS);
        const int m = uhf_epc_pattern_match(&p, data, static_cast<int>(size));
        UHF_FUZZ_CHECK(m == 0 || m == 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    binary_round_trip(data, size);
    auto text = std::make_unique<char[]>(size + 1);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    uri_round_trip(text.get(), data, size);
    return 0;
}
