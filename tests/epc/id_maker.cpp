#include "id_maker.hpp"

#include <map>
#include <stdexcept>

namespace epc_test {
namespace {

// Company prefix digits for partition values 0..6 (the same in every GS1 scheme), and the
// reference's digits (or most characters) for each table.
const int company_digits[7] = {12, 11, 10, 9, 8, 7, 6};

enum class F { Company, Padded, Unpadded, Str7Ref, Var6Ref, Int, Str7, NumStr, Two, Cage, Adi, AdiSerial };

struct FieldRule {
    F kind;
    int bits;    // integer and string widths
    int most;    // most digits / characters (string fields)
};

struct SchemeRules {
    int filter_bits;
    std::vector<int> ref_size;  // per partition value; empty: no partition
    std::vector<int> ref_bits;  // per partition value (unpadded references)
    std::vector<FieldRule> fields;
};

std::vector<int> digits_from(int first) {
    std::vector<int> v;
    for (int p = 0; p < 7; ++p) v.push_back(first + p);
    return v;
}

const std::map<std::string, SchemeRules> &rules() {
    static const std::map<std::string, SchemeRules> r = {
        {"sgtin-96", {3, digits_from(1), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Int, 38, 0}}}},
        {"sgtin-198", {3, digits_from(1), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Str7, 140, 20}}}},
        {"sscc-96", {3, digits_from(5), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}}}},
        {"sgln-96", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Int, 41, 0}}}},
        {"sgln-195", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Str7, 140, 20}}}},
        {"grai-96", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Int, 38, 0}}}},
        {"grai-170", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Str7, 112, 16}}}},
        {"giai-96", {3, digits_from(13), {42, 45, 48, 52, 55, 58, 62}, {{F::Company, 0, 0}, {F::Unpadded, 0, 0}}}},
        {"giai-202", {3, digits_from(18), {}, {{F::Company, 0, 0}, {F::Str7Ref, 0, 0}}}},
        {"gsrn-96", {3, digits_from(5), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}}}},
        {"gsrnp-96", {3, digits_from(5), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}}}},
        {"gdti-96", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Int, 41, 0}}}},
        {"gdti-174", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Str7, 119, 17}}}},
        {"cpi-96", {3, digits_from(3), {11, 14, 17, 21, 24, 27, 31}, {{F::Company, 0, 0}, {F::Unpadded, 0, 0}, {F::Int, 31, 0}}}},
        {"cpi-var", {3, digits_from(18), {}, {{F::Company, 0, 0}, {F::Var6Ref, 0, 0}, {F::Int, 40, 12}}}},
        {"sgcn-96", {3, digits_from(0), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::NumStr, 41, 12}}}},
        {"itip-110", {3, digits_from(1), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Two, 7, 2}, {F::Two, 7, 2}, {F::Int, 38, 0}}}},
        {"itip-212", {3, digits_from(1), {}, {{F::Company, 0, 0}, {F::Padded, 0, 0}, {F::Two, 7, 2}, {F::Two, 7, 2}, {F::Str7, 140, 20}}}},
        {"gid-96", {0, {}, {}, {{F::Int, 28, 0}, {F::Int, 24, 0}, {F::Int, 36, 0}}}},
        {"usdod-96", {4, {}, {}, {{F::Cage, 0, 0}, {F::Int, 36, 0}}}},
        {"adi-var", {6, {}, {}, {{F::Cage, 0, 0}, {F::Adi, 0, 32}, {F::AdiSerial, 0, 30}}}},
    };
    return r;
}

const SchemeRules &rules_for(const std::string &scheme) {
    auto it = rules().find(scheme);
    if (it == rules().end()) throw std::invalid_argument("no rules for " + scheme);
    return it->second;
}

// The 82 characters of GS1 AI encodable set 82, as each is written in a URI.
std::vector<std::string> make_chars82() {
    std::vector<std::string> v;
    const std::string plain = "!'()*+,-.:;=_";
    for (char c : plain) v.emplace_back(1, c);
    for (const char *e : {"%22", "%25", "%26", "%2F", "%3C", "%3E", "%3F"}) v.emplace_back(e);
    for (char c = '0'; c <= '9'; ++c) v.emplace_back(1, c);
    for (char c = 'A'; c <= 'Z'; ++c) v.emplace_back(1, c);
    for (char c = 'a'; c <= 'z'; ++c) v.emplace_back(1, c);
    return v;
}

const std::vector<std::string> &cpi_chars() {
    static const std::vector<std::string> v = [] {
        std::vector<std::string> r{"%23", "-", "%2F"};
        for (char c = '0'; c <= '9'; ++c) r.emplace_back(1, c);
        for (char c = 'A'; c <= 'Z'; ++c) r.emplace_back(1, c);
        return r;
    }();
    return v;
}

const std::vector<std::string> &adi_chars() {
    static const std::vector<std::string> v = [] {
        std::vector<std::string> r{"-", "%2F"};
        for (char c = '0'; c <= '9'; ++c) r.emplace_back(1, c);
        for (char c = 'A'; c <= 'Z'; ++c) r.emplace_back(1, c);
        return r;
    }();
    return v;
}

const std::string cage_chars = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";

std::uint64_t below(std::mt19937_64 &rng, std::uint64_t n) { return n ? rng() % n : 0; }

std::string digits(std::mt19937_64 &rng, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + below(rng, 10));
    return s;
}

// An integer below 2^bits (and 10^most when given), of a random magnitude so that short and
// long values both occur.
std::string integer(std::mt19937_64 &rng, int bits, int most) {
    const int b = 1 + static_cast<int>(below(rng, static_cast<std::uint64_t>(bits)));
    std::uint64_t v = b >= 64 ? rng() : rng() & ((std::uint64_t{1} << b) - 1);
    if (most) {
        std::uint64_t limit = 1;
        for (int i = 0; i < most; ++i) limit *= 10;
        v %= limit;
    }
    return std::to_string(v);
}

std::string pick(std::mt19937_64 &rng, const std::vector<std::string> &set, int min, int max) {
    const int n = min + static_cast<int>(below(rng, static_cast<std::uint64_t>(max - min + 1)));
    std::string s;
    for (int i = 0; i < n; ++i) s += set[below(rng, set.size())];
    return s;
}

std::string cage(std::mt19937_64 &rng) {
    std::string s;
    const int n = 5 + static_cast<int>(below(rng, 2));
    for (int i = 0; i < n; ++i) s += cage_chars[below(rng, cage_chars.size())];
    return s;
}

std::string max_below_bits(int bits, int most) {
    std::uint64_t v = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    if (most) {
        std::uint64_t limit = 1;
        for (int i = 0; i < most; ++i) limit *= 10;
        if (v >= limit) v = limit - 1;
    }
    return std::to_string(v);
}

std::string join(const std::string &scheme, int filter, const std::vector<std::string> &parts,
                 int filter_bits) {
    std::string s = "urn:epc:tag:" + scheme + ":";
    if (filter_bits) s += std::to_string(filter) + ".";
    for (std::size_t i = 0; i < parts.size(); ++i) s += (i ? "." : "") + parts[i];
    return s;
}

} // namespace

const std::vector<std::string> &uri_chars82() {
    static const std::vector<std::string> v = make_chars82();
    return v;
}

std::vector<std::string> scheme_names() {
    std::vector<std::string> v;
    for (const auto &[name, r] : rules()) v.push_back(name);
    return v;
}

std::string random_uri(const std::string &scheme, std::mt19937_64 &rng) {
    const SchemeRules &r = rules_for(scheme);
    const int p = static_cast<int>(below(rng, 7));
    std::vector<std::string> parts;
    for (const FieldRule &f : r.fields) {
        switch (f.kind) {
        case F::Company: parts.push_back(digits(rng, company_digits[p])); break;
        case F::Padded: parts.push_back(digits(rng, r.ref_size[p])); break;
        case F::Unpadded: parts.push_back(integer(rng, r.ref_bits[p], r.ref_size[p])); break;
        case F::Str7Ref: parts.push_back(pick(rng, uri_chars82(), 1, r.ref_size[p])); break;
        case F::Var6Ref: parts.push_back(pick(rng, cpi_chars(), 1, r.ref_size[p])); break;
        case F::Int: parts.push_back(integer(rng, f.bits, f.most)); break;
        case F::Str7: parts.push_back(pick(rng, uri_chars82(), 1, f.most)); break;
        case F::NumStr: parts.push_back(digits(rng, 1 + static_cast<int>(below(rng, 12)))); break;
        case F::Two: parts.push_back(digits(rng, 2)); break;
        case F::Cage: parts.push_back(cage(rng)); break;
        case F::Adi: parts.push_back(pick(rng, adi_chars(), 0, f.most)); break;
        case F::AdiSerial:
            parts.push_back((below(rng, 4) == 0 ? "%23" : "") + pick(rng, adi_chars(), 1, f.most - 1));
            break;
        }
    }
    const int filter = r.filter_bits ? static_cast<int>(below(rng, 1u << r.filter_bits)) : 0;
    return join(scheme, filter, parts, r.filter_bits);
}

std::vector<std::string> edge_uris(const std::string &scheme) {
    const SchemeRules &r = rules_for(scheme);
    std::vector<std::string> out;
    const int partitions = r.ref_size.empty() ? 1 : 7;
    const auto &c82 = uri_chars82();
    for (int p = 0; p < partitions; ++p) {
        for (int big = 0; big < 2; ++big) {
            std::vector<std::string> parts;
            for (const FieldRule &f : r.fields) {
                const int size = r.ref_size.empty() ? 0 : r.ref_size[p];
                switch (f.kind) {
                case F::Company: parts.push_back(std::string(company_digits[p], big ? '9' : '0')); break;
                case F::Padded: parts.push_back(std::string(size, big ? '9' : '0')); break;
                case F::Unpadded: parts.push_back(big ? max_below_bits(r.ref_bits[p], size) : "0"); break;
                case F::Str7Ref: parts.push_back(big ? std::string(size, 'z') : "0"); break;
                case F::Var6Ref: parts.push_back(big ? std::string(size, 'Z') : "0"); break;
                case F::Int: parts.push_back(big ? max_below_bits(f.bits, f.most) : "0"); break;
                case F::Str7: parts.push_back(big ? std::string(f.most, '9') : "0"); break;
                case F::NumStr: parts.push_back(big ? std::string(12, '9') : "0"); break;
                case F::Two: parts.push_back(big ? "99" : "00"); break;
                case F::Cage: parts.push_back(big ? "ZZZZZZ" : "00000"); break;
                case F::Adi: parts.push_back(big ? std::string(f.most, 'Z') : ""); break;
                case F::AdiSerial: parts.push_back(big ? "%23" + std::string(f.most - 1, '9') : "0"); break;
                }
            }
            for (int filter = 0; filter < (1 << r.filter_bits) || filter == 0; ++filter)
                out.push_back(join(scheme, filter, parts, r.filter_bits));
        }
    }
    // Leading zeros and every allowed character in the alphanumeric fields.
    for (std::size_t i = 0; i < r.fields.size(); ++i) {
        const FieldRule &f = r.fields[i];
        if (f.kind != F::Str7 && f.kind != F::Str7Ref && f.kind != F::NumStr) continue;
        const int most = f.kind == F::Str7Ref ? r.ref_size[0] : f.most;
        std::vector<std::string> texts{"007", "0"};
        if (f.kind != F::NumStr) {
            for (std::size_t at = 0; at < c82.size(); at += static_cast<std::size_t>(most)) {
                std::string t;
                for (std::size_t k = at; k < at + static_cast<std::size_t>(most) && k < c82.size(); ++k) t += c82[k];
                texts.push_back(t);
            }
        }
        for (const std::string &t : texts) {
            std::mt19937_64 rng(i);
            std::string base = random_uri(scheme, rng);
            // Replace the last field (these fields always come last).
            const auto cut = [&] {
                std::size_t dots = 0, pos = base.find(':', 12) + 1;
                const std::size_t want = (r.filter_bits ? 1 : 0) + r.fields.size() - 1;
                while (dots < want) { pos = base.find('.', pos) + 1; ++dots; }
                return pos;
            }();
            if (f.kind == F::Str7Ref) {
                // The company prefix decides the reference's room: use partition 0's.
                out.push_back(join(scheme, 1, {std::string(12, '1'), t}, r.filter_bits));
            } else {
                out.push_back(base.substr(0, cut) + t);
            }
        }
    }
    return out;
}

} // namespace epc_test
