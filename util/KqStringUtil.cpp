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
    for (auto index = static_cast<long long>(S.size()); index >= 1; --index) {
        if (MatchAt(SubStr, S, index))
            return index;
    }
    return 0;
}

} // namespace pellux
