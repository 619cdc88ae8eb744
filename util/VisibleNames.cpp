// Names as messages show them: control and bidirectional formatting characters escaped,
// bytes that are not UTF-8 as \xHH, and long lists cut to their first few.
#include "util/ZipRecords.h"

#include "util/NameCodec.h"

#include <algorithm>
#include <cstdio>

namespace pellux {

namespace {

// Lists name this many entries, then say how many more.
constexpr std::size_t kNamedAtMost = 5;

void AppendUtf8(std::string &out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsBidiControl(std::uint32_t cp)
{
    return cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}
} // namespace

std::string NameList(const std::vector<std::string> &names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kNamedAtMost; ++i)
        text += (i ? ", " : "") + names[i];
    if (names.size() > kNamedAtMost)
        text += " and " + std::to_string(names.size() - kNamedAtMost) + " more";
    return text;
}

bool IsPlainName(std::string_view utf8)
{
    return std::none_of(utf8.begin(), utf8.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7F || c == 0xC2 || c == 0xE2;
    });
}

std::string VisibleName(std::string_view utf8, bool *changed)
{
    // Most names hold none of the bytes that can start such a character.
    if (IsPlainName(utf8)) {
        if (changed)
            *changed = false;
        return std::string(utf8);
    }
    std::string out;
    out.reserve(utf8.size());
    bool any = false;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = length == 1 ? c : c & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        char text[16];
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(cp));
            out += text;
            any = true;
        } else if (IsBidiControl(cp)) {
            std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(cp));
            out += text;
            any = true;
        } else {
            AppendUtf8(out, cp);
        }
        i += length;
    }
    if (changed)
        *changed = any;
    return out;
}

std::string VisibleText(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return VisibleName(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + length <= bytes.size() && IsValidUtf8(bytes.substr(i, length))) {
            out += VisibleName(bytes.substr(i, length));
            i += length;
        } else {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(c));
            out += text;
            ++i;
        }
    }
    return out;
}

} // namespace pellux
