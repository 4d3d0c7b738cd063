#include "epc/charsets.hpp"

namespace uhf::epc {
namespace {

bool digit_or_upper(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

bool gs1_char(char c) {
    if (c >= '0' && c <= '9') return true;
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= 'a' && c <= 'z') return true;
    switch (c) {
    case '!': case '"': case '%': case '&': case '\'': case '(': case ')': case '*': case '+':
    case ',': case '-': case '.': case '/': case ':': case ';': case '<': case '=': case '>':
    case '?': case '_':
        return true;
    default:
        return false;
    }
}

} // namespace

bool char_allowed(Charset set, char c) {
    switch (set) {
    case Charset::Gs1: return gs1_char(c);
    case Charset::Cpi6: return digit_or_upper(c) || c == '#' || c == '-' || c == '/';
    case Charset::Adi6: return digit_or_upper(c) || c == '-' || c == '/';
    case Charset::Adi6Serial: return digit_or_upper(c) || c == '-' || c == '/' || c == '#';
    case Charset::Cage: return digit_or_upper(c) && c != 'I' && c != 'O';
    }
    return false;
}

bool must_escape(Charset set, char c) {
    if (set == Charset::Gs1)
        return c == '"' || c == '%' || c == '&' || c == '/' || c == '<' || c == '>' || c == '?';
    return c == '#' || c == '/';
}

} // namespace uhf::epc
