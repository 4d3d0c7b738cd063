// Results as text lines or as one JSON object each, and the words for the library's codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace uhfctl {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStatus = 1;    // the reader answered with a non-zero status byte
inline constexpr int kExitUsage = 2;
inline constexpr int kExitExchange = 3;  // no valid reply (or no link)

// "no reply from reader" for exchange code 234, and so on.
std::string exchange_words(int code, int detail);

// A flat JSON object built field by field.
class Json {
public:
    Json& str(std::string_view key, std::string_view value);
    Json& num(std::string_view key, long long value);
    Json& real(std::string_view key, double value);
    Json& boolean(std::string_view key, bool value);
    Json& raw(std::string_view key, std::string_view json);  // an array or object already built
    std::string text() const { return "{" + body_ + "}"; }

private:
    void key(std::string_view k);
    std::string body_;
};

}  // namespace uhfctl
