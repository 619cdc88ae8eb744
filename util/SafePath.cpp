#include "util/SafePath.h"

#include <algorithm>

namespace pellux {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Split(const std::string &name, bool backslashSeparates)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : name) {
        if (c == '/' || (backslashSeparates && c == '\\')) {
            parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(std::move(current));
    return parts;
}

bool IsDriveLetter(const std::string &part)
{
    return part.size() == 2 && part[1] == ':'
        && ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}

} // namespace

std::optional<SafeName> MakeSafeName(const std::string &name, bool keepDirs, std::string *why, bool backslashSeparates)
{
    if (name.empty()) {
        *why = "empty name";
        return std::nullopt;
    }
    const auto separates = [backslashSeparates](char c) { return c == '/' || (backslashSeparates && c == '\\'); };
    if (separates(name.front())) {
        *why = "absolute path";
        return std::nullopt;
    }
    const bool isDir = separates(name.back());
    std::vector<std::string> parts = Split(name, backslashSeparates);
    if (IsDriveLetter(parts.front())) {
        *why = "absolute path";
        return std::nullopt;
    }
    std::vector<std::string> kept;
    for (auto &part : parts) {
        if (part == "..") {
            *why = "path leads outside the extraction directory";
            return std::nullopt;
        }
        if (!part.empty() && part != ".")
            kept.push_back(std::move(part));
    }
    if (kept.empty()) {
        *why = "empty name";
        return std::nullopt;
    }
    SafeName safe;
    if (isDir) {
        if (keepDirs)
            safe.Dirs = std::move(kept);
        return safe;
    }
    safe.Leaf = std::move(kept.back());
    kept.pop_back();
    if (keepDirs)
        safe.Dirs = std::move(kept);
    return safe;
}

std::string StripDrive(const std::string &name, std::string *prefix)
{
    std::size_t cut = 0;
    if (name.size() >= 2 && IsDriveLetter(name.substr(0, 2))) {
        cut = 2;
        while (cut < name.size() && IsSeparator(name[cut]))
            ++cut;
    }
    *prefix = name.substr(0, cut);
    return name.substr(cut);
}

std::optional<std::vector<std::vector<std::string>>> LinkTargetPath(const std::vector<std::string> &linkDirs,
                                                                    const std::string &target)
{
    if (target.empty() || target.front() == '/')
        return std::nullopt;
    // The kernel splits a target at "/" only; the link's own directories are real.
    std::vector<std::string> at = linkDirs;
    std::size_t real = at.size();
    std::vector<std::vector<std::string>> left;
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        const std::string part = target.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..") {
            at.push_back(part);
            continue;
        }
        if (at.empty())
            return std::nullopt;
        if (at.size() > real)
            left.push_back(at);
        at.pop_back();
        real = std::min(real, at.size());
    }
    return left;
}

} // namespace pellux
