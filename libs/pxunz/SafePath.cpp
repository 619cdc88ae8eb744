#include "libs/pxunz/SafePath.h"

namespace pellux::libs {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Split(const std::string &name)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : name) {
        if (IsSeparator(c)) {
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

std::optional<SafeName> MakeSafeName(const std::string &name, bool keepDirs, std::string *why)
{
    if (name.empty()) {
        *why = "empty name";
        return std::nullopt;
    }
    if (IsSeparator(name.front())) {
        *why = "absolute path";
        return std::nullopt;
    }
    const bool isDir = IsSeparator(name.back());
    std::vector<std::string> parts = Split(name);
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

bool LinkTargetStaysInside(const std::vector<std::string> &linkDirs, const std::string &target)
{
    if (target.empty() || IsSeparator(target.front()))
        return false;
    // Up-levels are taken through the real directories above the link; after the first
    // name a ".." could climb out of another link's target, so it is refused.
    long depth = static_cast<long>(linkDirs.size());
    bool descending = false;
    for (const auto &part : Split(target)) {
        if (part == "..") {
            if (descending || --depth < 0)
                return false;
        } else if (!part.empty() && part != ".") {
            descending = true;
        }
    }
    return true;
}

} // namespace pellux::libs
