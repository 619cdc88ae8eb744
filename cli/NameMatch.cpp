#include "cli/NameMatch.h"

#include <cstddef>
#include <string_view>
#include <unordered_map>

namespace pellux::cli {

namespace {

// Length of the UTF-8 character at s[0]; a stray byte counts as one.
std::size_t CharLength(std::string_view s)
{
    const auto lead = static_cast<unsigned char>(s[0]);
    std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length > s.size())
        return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 1;
    }
    return length;
}

// Matches the class at p[0] == '[' against the character c; sets `used` to the class's
// length, or 0 when the class is not closed (then '[' is literal).
bool ClassMatches(std::string_view p, std::string_view c, std::size_t &used)
{
    std::size_t i = 1;
    const bool negate = i < p.size() && (p[i] == '!' || p[i] == '^');
    if (negate)
        ++i;
    bool found = false;
    bool first = true;
    while (i < p.size() && (p[i] != ']' || first)) {
        first = false;
        const std::size_t lowLength = CharLength(p.substr(i));
        const std::string_view low = p.substr(i, lowLength);
        i += lowLength;
        std::string_view high = low;
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
            const std::size_t highLength = CharLength(p.substr(i + 1));
            high = p.substr(i + 1, highLength);
            i += 1 + highLength;
        }
        // Byte order of UTF-8 is code point order.
        if (low <= c && c <= high)
            found = true;
    }
    if (i >= p.size()) {
        used = 0;
        return false;
    }
    used = i + 1;
    return found != negate && c != "/";
}

// True when p starts with a closed class; `used` is its length when it matches c, else 0.
bool ClassUsed(std::string_view p, std::string_view c, std::size_t &used)
{
    std::size_t length = 0;
    const bool matches = ClassMatches(p, c, length);
    used = matches ? length : 0;
    return length > 0;
}

bool Match(std::string_view p, std::string_view n)
{
    while (!p.empty()) {
        if (p[0] == '*') {
            const bool crosses = p.size() > 1 && p[1] == '*';
            const std::string_view rest = p.substr(crosses ? 2 : 1);
            // Try the shortest run first; a plain star never eats a '/'.
            for (std::size_t skip = 0;; ++skip) {
                if (Match(rest, n.substr(skip)))
                    return true;
                if (skip == n.size() || (!crosses && n[skip] == '/'))
                    return false;
            }
        }
        if (n.empty())
            return false;
        const std::size_t length = CharLength(n);
        std::size_t used = 0;
        if (p[0] == '?') {
            if (n[0] == '/')
                return false;
            p.remove_prefix(1);
        } else if (p[0] == '[' && ClassUsed(p, n.substr(0, length), used)) {
            if (used == 0)
                return false;
            p.remove_prefix(used);
        } else {
            // An unclosed '[' is itself, as in the shell.
            if (p[0] == '\\' && p.size() > 1)
                p.remove_prefix(1);
            const std::size_t literal = CharLength(p);
            if (p.substr(0, literal) != n.substr(0, length))
                return false;
            p.remove_prefix(literal);
        }
        n.remove_prefix(length);
    }
    return n.empty();
}

} // namespace

bool IsNamePattern(const std::string &name)
{
    return name.find_first_of("*?[") != std::string::npos || (!name.empty() && name.back() == '/');
}

bool MatchesPattern(const std::string &pattern, const std::string &name) { return Match(pattern, name); }

ExpandedNames ExpandNames(const std::vector<std::string> &given, const std::vector<std::string> &stored)
{
    ExpandedNames result;
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        index.emplace(stored[i], i);
    std::vector<bool> chosen(stored.size(), false);
    std::size_t chosenCount = 0;
    bool literalMissed = false;
    const auto choose = [&](std::size_t i) {
        if (!chosen[i]) {
            chosen[i] = true;
            ++chosenCount;
        }
    };
    for (const auto &name : given) {
        const bool directory = !name.empty() && name.back() == '/' && name.find_first_of("*?[") == std::string::npos;
        // A stored name that looks like a pattern is meant as itself; a directory's
        // own entry stands for all it holds.
        if (const auto it = index.find(name); it != index.end() && !directory) {
            choose(it->second);
            continue;
        }
        if (!IsNamePattern(name)) {
            // Kept for the library, which names it as not matched.
            result.Names.push_back(name);
            literalMissed = true;
            continue;
        }
        bool any = false;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            if (directory ? stored[i].compare(0, name.size(), name) == 0 : Match(name, stored[i])) {
                choose(i);
                any = true;
            }
        }
        if (!any)
            result.Unmatched.push_back(name);
    }
    result.All = !literalMissed && chosenCount == stored.size() && !stored.empty();
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (chosen[i])
            result.Names.push_back(stored[i]);
    }
    return result;
}

} // namespace pellux::cli
