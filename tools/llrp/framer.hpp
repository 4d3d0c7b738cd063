// Cuts whole LLRP messages out of a TCP byte stream, as the bytes arrive in any pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "llrp/codec.hpp"

namespace uhf::llrp {

class Framer {
 public:
  explicit Framer(Limits limits = {}) : limits_(limits) {}

  // Appends received bytes. Push what one read returned, then call next() until it yields
  // need_more: the buffer then never holds more than one message's worth plus that read. Bytes
  // pushed after the stream broke are dropped.
  void push(std::span<const std::uint8_t> bytes);

  enum class State { need_more, message, broken };

  struct Cut {
    State state = State::need_more;
    std::vector<std::uint8_t> message;  // message: its bytes, header included, ready for decode()
    Decoded refusal;                    // broken: the error, for error_reply()
  };

  // The next whole message. A header whose length is shorter than the header or longer than
  // the limit breaks the stream for good: nothing after it can be found again, so the caller
  // answers with error_reply(cut.refusal) and closes. The length is judged as soon as the 10
  // header bytes are in, before any of the body is kept.
  Cut next();

  bool broken() const { return broken_; }
  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  Limits limits_;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
  bool broken_ = false;
  Decoded refusal_;
};

}  // namespace uhf::llrp
