#include "uhfctl/output.hpp"

#include <cstdio>

#include "uhfctl/text.hpp"

namespace uhfctl {

std::string exchange_words(int code, int detail) {
    std::string what;
    if (code == 1) what = "the request could not be sent over USB (or no USB reader is open)";
    else if (code >= 225 && code <= 233) what = "the request could not be sent on the serial line";
    else if (code == 234) what = "no reply from reader";
    else if (code == 235 && detail == 108) what = "no reply from reader";
    else if (code == 235) what = "the reply did not start with a frame";
    else if (code == 236) what = "the reply stopped after its first byte";
    else if (code == 237) what = "the reply's start pair or command echo was wrong";
    else if (code == 238) what = "the reply stopped before its address";
    else if (code == 239) what = "the reply stopped before its command code";
    else if (code == 240) what = "the reply stopped before its status byte";
    else if (code == 241 && detail == 114) what = "the reply stopped inside its data";
    else if (code == 241) what = "the reply's length was missing or too long";
    else if (code == 242) what = "the reply stopped before its checksum";
    else if (code == 243) what = "the reply's checksum was wrong";
    else if (code == 244 || code == 246) what = "the reply's end pair was missing";
    else if (code == 245 || code == 247) what = "the reply's end pair was wrong";
    else if (code == 248) what = "the request is longer than one frame carries (nothing sent)";
    else if (code == 253) what = "the reply came from another reader address";
    else if (code == 254) what = "the reply answered another command";
    else what = "the exchange failed";
    return what + " (exchange " + std::to_string(code) + ", detail " + std::to_string(detail) + ")";
}

void Json::key(std::string_view k) {
    if (!body_.empty()) body_ += ",";
    body_ += json_string(k) + ":";
}

Json& Json::str(std::string_view k, std::string_view v) {
    key(k);
    body_ += json_string(v);
    return *this;
}

Json& Json::num(std::string_view k, long long v) {
    key(k);
    body_ += std::to_string(v);
    return *this;
}

Json& Json::real(std::string_view k, double v) {
    key(k);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    body_ += buf;
    return *this;
}

Json& Json::boolean(std::string_view k, bool v) {
    key(k);
    body_ += v ? "true" : "false";
    return *this;
}

Json& Json::raw(std::string_view k, std::string_view json) {
    key(k);
    body_ += json;
    return *this;
}

}  // namespace uhfctl
