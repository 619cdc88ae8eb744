#include "KqStringUtil.h"

namespace pellux {

bool MatchAt(std::string_view SubStr, std::string_view S, long long Index)
{
    if (Index < 1)
        return SubStr.empty();
    const auto start = static_cast<std::size_t>(Index - 1);
    const std::string_view piece = start >= S.size() ? std::string_view{} : S.substr(start, SubStr.size());
    return piece == SubStr;
}

long long LastPos(std::string_view SubStr, std::string_view S)
{
    // The empty string matches at the last character, not past it.
    if (SubStr.empty())
        return static_cast<long long>(S.size());
    const std::size_t at = S.rfind(SubStr);
    return at == std::string_view::npos ? 0 : static_cast<long long>(at) + 1;
}

std::string LowerExtension(std::string_view Path)
{
    const std::size_t slash = Path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? Path : Path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    std::string extension(name.substr(dot));
    for (char &c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

std::string Trim(std::string_view S)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!S.empty() && blank(S.front()))
        S.remove_prefix(1);
    while (!S.empty() && blank(S.back()))
        S.remove_suffix(1);
    return std::string(S);
}

} // namespace pellux
