// Reads one TOML table key by key, collecting problems with their line and key path, and
// reporting the keys nobody asked for (a misspelt key is an error, not a silent default).
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <toml++/toml.h>

namespace uhfd {

class Problems {
public:
    explicit Problems(std::string source) : source_(std::move(source)) {}
    void add(const toml::source_region& where, const std::string& key, const std::string& what);
    bool empty() const { return list_.empty(); }
    std::vector<std::string> take() { return std::move(list_); }
    const std::string& source() const { return source_; }

private:
    std::string source_;
    std::vector<std::string> list_;
};

class Section {
public:
    Section(const toml::table& table, std::string path, Problems& problems)
        : table_(table), path_(std::move(path)), problems_(problems) {}
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    std::string key_path(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }

    std::optional<std::string> text(const std::string& key, bool required = false);
    std::optional<long long> integer(const std::string& key, long long lo, long long hi, bool required = false);
    std::optional<bool> flag(const std::string& key);
    const toml::array* array(const std::string& key);
    const toml::table* table(const std::string& key);
    const toml::node* node(const std::string& key);  // any type; marks the key used

    void problem(const std::string& key, const std::string& what);
    void problem_at(const toml::node& n, const std::string& key, const std::string& what);

private:
    const toml::table& table_;
    std::string path_;
    Problems& problems_;
    std::set<std::string> used_;
};

}  // namespace uhfd
