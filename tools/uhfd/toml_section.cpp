#include "toml_section.hpp"

namespace uhfd {

void Problems::add(const toml::source_region& where, const std::string& key, const std::string& what) {
    std::string line = source_;
    if (where.begin.line > 0) line += ":" + std::to_string(where.begin.line);
    line += ": " + key + ": " + what;
    list_.push_back(std::move(line));
}

Section::~Section() {
    for (const auto& [k, v] : table_)
        if (!used_.count(std::string(k.str()))) problems_.add(k.source(), key_path(std::string(k.str())), "unknown key");
}

const toml::node* Section::node(const std::string& key) {
    used_.insert(key);
    return table_.get(key);
}

void Section::problem(const std::string& key, const std::string& what) {
    if (const toml::node* n = table_.get(key)) problems_.add(n->source(), key_path(key), what);
    else problems_.add(table_.source(), key_path(key), what);
}

void Section::problem_at(const toml::node& n, const std::string& key, const std::string& what) {
    problems_.add(n.source(), key_path(key), what);
}

std::optional<std::string> Section::text(const std::string& key, bool required) {
    const toml::node* n = node(key);
    if (!n) {
        if (required) problem(key, "missing (a string)");
        return std::nullopt;
    }
    if (!n->is_string()) {
        problem(key, "must be a string");
        return std::nullopt;
    }
    // A newline in a device string or a name would forge a line in the log, a NUL cut a path short.
    const std::string& v = n->as_string()->get();
    for (const char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            problem(key, "must not hold control characters (newline, tab, NUL, ...)");
            return std::nullopt;
        }
    return v;
}

std::optional<long long> Section::integer(const std::string& key, long long lo, long long hi, bool required) {
    const toml::node* n = node(key);
    const std::string range = "an integer " + std::to_string(lo) + ".." + std::to_string(hi);
    if (!n) {
        if (required) problem(key, "missing (" + range + ")");
        return std::nullopt;
    }
    if (!n->is_integer() || n->as_integer()->get() < lo || n->as_integer()->get() > hi) {
        problem(key, "must be " + range);
        return std::nullopt;
    }
    return n->as_integer()->get();
}

std::optional<bool> Section::flag(const std::string& key) {
    const toml::node* n = node(key);
    if (!n) return std::nullopt;
    if (!n->is_boolean()) {
        problem(key, "must be true or false");
        return std::nullopt;
    }
    return n->as_boolean()->get();
}

const toml::array* Section::array(const std::string& key) {
    const toml::node* n = node(key);
    if (n && !n->is_array()) {
        problem(key, "must be an array");
        return nullptr;
    }
    return n ? n->as_array() : nullptr;
}

const toml::table* Section::table(const std::string& key) {
    const toml::node* n = node(key);
    if (n && !n->is_table()) {
        problem(key, "must be a table");
        return nullptr;
    }
    return n ? n->as_table() : nullptr;
}

}  // namespace uhfd
