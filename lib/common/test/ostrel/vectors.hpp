// Reader of known-answer vector files: blocks of "key = value" lines separated by blank lines,
// '#' comment lines ignored, the header paragraph (starting with "# source:") skipped.
// A Block remembers which keys a test asked for, so a runner can fail on keys nobody checked.
#pragma once

#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel::test {

class Block {
  public:
    int line = 0;  // line number of the block's first key, for messages
    std::map<std::string, std::string> values;

    bool has(const std::string &k) const { return values.count(k) != 0; }
    const std::string &get(const std::string &k) const {
        auto it = values.find(k);
        if (it == values.end()) throw std::runtime_error("vector block at line " + std::to_string(line) + " lacks " + k);
        used_.insert(k);
        return it->second;
    }
    std::string get_or(const std::string &k, const std::string &dflt) const { return has(k) ? get(k) : dflt; }
    // Keys present in the block that no check asked for.
    std::vector<std::string> unused() const {
        std::vector<std::string> out;
        for (const auto &kv : values)
            if (!used_.count(kv.first)) out.push_back(kv.first);
        return out;
    }
    void mark_used(const std::string &k) const { used_.insert(k); }

  private:
    mutable std::set<std::string> used_;
};

inline std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Parses a vector file; throws when it cannot be opened.
inline std::vector<Block> read_vectors(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<Block> blocks;
    Block cur;
    std::string line;
    int lineno = 0;
    auto flush = [&] {
        if (!cur.values.empty()) blocks.push_back(cur);
        cur = Block();
    };
    while (std::getline(in, line)) {
        ++lineno;
        std::string t = trim(line);
        if (t.empty()) {
            flush();
            continue;
        }
        if (t[0] == '#') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (cur.values.empty()) cur.line = lineno;
        cur.values[trim(t.substr(0, eq))] = trim(t.substr(eq + 1));
    }
    flush();
    return blocks;
}

}  // namespace ostrel::test
