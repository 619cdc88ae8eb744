#include "util/NameCodec.h"

#include "util/NameTables.h"

#include <cstdint>

namespace pellux {

bool IsValidUtf8(std::string_view bytes)
{
    return pellux_valid_utf8(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()) != 0;
}

namespace {

void AppendUtf8(std::string &out, char16_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::string Cp437ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        AppendUtf8(out, c < 0x80 ? char16_t(c) : char16_t(pellux_cp437_high[c - 0x80]));
    }
    return out;
}

std::string DecodeStoredName(std::string_view bytes)
{
    return IsValidUtf8(bytes) ? std::string(bytes) : Cp437ToUtf8(bytes);
}

} // namespace pellux
