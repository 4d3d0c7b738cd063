// The LLRP codec against any bytes, taken as a TCP stream.
//
// Input: a byte stream, cut into messages by the framer in two pieces (split where the first
// byte says), each message decoded.
// Checks: whatever decodes encodes again, to the same bytes (or, where reserved or padding bits
// were set, to bytes that decode to the same values and encode to themselves); whatever does
// not decode gets a reply that encodes and decodes, carrying the same status code.
#include <cstddef>
#include <cstdint>
#include <span>

#include "check.hpp"
#include "llrp/codec.hpp"
#include "llrp/framer.hpp"

namespace {

using namespace uhf::llrp;

void check_message(std::span<const std::uint8_t> bytes) {
  Decoded d = decode(bytes);
  if (d.ok()) {
    Encoded e = encode(*d.message);
    UHF_FUZZ_CHECK(e.ok());
    if (d.exact) {
      UHF_FUZZ_CHECK(e.bytes.size() == bytes.size() && std::equal(e.bytes.begin(), e.bytes.end(), bytes.begin()));
    } else {
      Decoded again = decode(e.bytes);
      UHF_FUZZ_CHECK(again.ok() && again.exact && *again.message == *d.message);
    }
    return;
  }
  Message reply = error_reply(d);
  Encoded e = encode(reply);
  UHF_FUZZ_CHECK(e.ok());
  Decoded back = decode(e.bytes);
  if (d.error.code == StatusCode::M_UnsupportedVersion) {
    UHF_FUZZ_CHECK(back.error.code == StatusCode::M_UnsupportedVersion);
    return;
  }
  UHF_FUZZ_CHECK(back.ok());
  UHF_FUZZ_CHECK(number(back.message->params.at(0), "StatusCode") == static_cast<int>(d.error.code));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::span<const std::uint8_t> in(data, size);
  std::size_t split = size ? data[0] % (size + 1) : 0;
  Framer framer;
  std::size_t cut = 0;
  for (std::span<const std::uint8_t> piece : {in.first(split), in.subspan(split)}) {
    framer.push(piece);
    for (Framer::Cut c = framer.next(); c.state != Framer::State::need_more; c = framer.next()) {
      if (c.state == Framer::State::broken) {
        UHF_FUZZ_CHECK(framer.buffered() == 0);
        UHF_FUZZ_CHECK(encode(error_reply(c.refusal)).ok());
        return 0;
      }
      check_message(c.message);
      cut += c.message.size();
    }
  }
  UHF_FUZZ_CHECK(cut + framer.buffered() == size);
  // The whole input as one message, too: the length checks against what is really there.
  check_message(in);
  return 0;
}
