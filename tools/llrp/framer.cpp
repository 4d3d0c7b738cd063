#include "llrp/framer.hpp"

namespace uhf::llrp {

void Framer::push(std::span<const std::uint8_t> bytes) {
  if (broken_) return;
  if (start_ && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

Framer::Cut Framer::next() {
  Cut cut;
  if (broken_) {
    cut.state = State::broken;
    cut.refusal = refusal_;
    return cut;
  }
  std::span<const std::uint8_t> pending(buffer_.data() + start_, buffered());
  if (pending.size() < header_size) return cut;
  Header h = read_header(pending);
  if (h.length < header_size || h.length > limits_.max_message) {
    // decode() of the header alone gives the same refusal the stream gets.
    DecodeOptions options;
    options.limits = limits_;
    refusal_ = decode(pending.first(header_size), options);
    broken_ = true;
    buffer_.clear();
    buffer_.shrink_to_fit();
    start_ = 0;
    cut.state = State::broken;
    cut.refusal = refusal_;
    return cut;
  }
  if (pending.size() < h.length) return cut;
  cut.state = State::message;
  cut.message.assign(pending.begin(), pending.begin() + h.length);
  start_ += h.length;
  // Keep the buffer from growing by the bytes already handed out.
  if (start_ > buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  return cut;
}

}  // namespace uhf::llrp
