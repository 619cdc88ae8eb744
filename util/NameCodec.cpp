#include "util/NameCodec.h"

#include "util/NameTables.h"

#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace pellux {

bool IsValidUtf8(std::string_view bytes)
{
    // Names are read several times at open, and most are ASCII: eight bytes at a time
    // up to the first that is not.
    std::size_t i = 0;
    for (std::uint64_t word = 0; i + 8 <= bytes.size(); i += 8) {
        std::memcpy(&word, bytes.data() + i, 8);
        if (word & 0x8080808080808080u)
            break;
    }
    return pellux_valid_utf8(reinterpret_cast<const unsigned char *>(bytes.data()) + i, bytes.size() - i) != 0;
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

void AppendEscaped(std::string &out, unsigned char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(c));
    out += text;
}

std::size_t SequenceLength(unsigned char c) { return c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

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

std::string EscapeInvalidUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(bytes[i]));
        if (i + length <= bytes.size() && IsValidUtf8(bytes.substr(i, length))) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            AppendEscaped(out, static_cast<unsigned char>(bytes[i++]));
        }
    }
    return out;
}

std::string FlaggedNameWithBadBytes(std::string_view bytes)
{
    // A backslash byte is never part of a longer UTF-8 sequence: turning it into "/"
    // first leaves the escapes the only backslashes.
    std::string separated(bytes);
    std::replace(separated.begin(), separated.end(), '\\', '/');
    return EscapeInvalidUtf8(separated);
}

bool EscapedBackslashes(std::string_view stored, std::string_view name)
{
    if (name.find('\\') == std::string_view::npos || IsValidUtf8(stored))
        return false;
    for (std::size_t i = name.find('\\'); i != std::string_view::npos; i = name.find('\\', i + 1)) {
        if (i + 4 <= name.size() && name[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(name[i + 2]))
            && std::isxdigit(static_cast<unsigned char>(name[i + 3])))
            return true;
    }
    return false;
}

std::string LocaleCodePage(std::string_view locale) { return pellux_locale_code_page(std::string(locale).c_str()); }

std::string UserCodePage() { return pellux_locale_code_page(pellux_user_locale()); }

bool IsKnownEncoding(const std::string &name)
{
    if (name.empty())
        return false;
    const iconv_t cd = ::iconv_open("UTF-8", name.c_str());
    if (cd == kNoConverter)
        return false;
    ::iconv_close(cd);
    return true;
}

struct LegacyDecoder::Converter {
    explicit Converter(const std::string &encoding) : Cd(::iconv_open("UTF-8", encoding.c_str())) {}
    ~Converter()
    {
        if (Cd != kNoConverter)
            ::iconv_close(Cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts the bytes; a byte that cannot be read ends the work (strict) or shows as
    // \xHH, and then the name's separators become "/", so that a backslash in it
    // separates nothing (see EscapedBackslashes). False when strict and such a byte came.
    bool Convert(std::string_view bytes, std::string &out, bool strict)
    {
        if (!strict && Convert(bytes, out, true))
            return true;
        const std::lock_guard<std::mutex> hold(Lock);
        out.clear();
        const auto append = [&out, strict](const char *text, std::size_t length) {
            const std::size_t from = out.size();
            out.append(text, length);
            if (!strict)
                std::replace(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(), '\\', '/');
        };
        if (Cd == kNoConverter) {
            for (char c : bytes) {
                if (static_cast<unsigned char>(c) < 0x80)
                    append(&c, 1);
                else if (strict)
                    return false;
                else
                    AppendEscaped(out, static_cast<unsigned char>(c));
            }
            return true;
        }
        ::iconv(Cd, nullptr, nullptr, nullptr, nullptr); // a fresh shift state for each name
        char *in = const_cast<char *>(bytes.data());
        std::size_t inLeft = bytes.size();
        char buffer[1024];
        while (inLeft > 0) {
            char *o = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t done = ::iconv(Cd, &in, &inLeft, &o, &outLeft);
            append(buffer, static_cast<std::size_t>(o - buffer));
            if (done != static_cast<std::size_t>(-1) || errno == E2BIG)
                continue;
            // EILSEQ or a sequence cut short by the end of the name.
            if (strict)
                return false;
            AppendEscaped(out, static_cast<unsigned char>(*in));
            ++in;
            --inLeft;
            ::iconv(Cd, nullptr, nullptr, nullptr, nullptr);
        }
        char *o = buffer;
        std::size_t outLeft = sizeof buffer;
        ::iconv(Cd, nullptr, nullptr, &o, &outLeft);
        append(buffer, static_cast<std::size_t>(o - buffer));
        // Some code pages map a byte to a character iconv writes as nothing valid; keep
        // the promise of valid UTF-8.
        return IsValidUtf8(out) || (!strict && (out = EscapeInvalidUtf8(out), true));
    }

    iconv_t Cd;
    std::mutex Lock;
};

LegacyDecoder::LegacyDecoder(std::string encoding) : encoding_(std::move(encoding))
{
    if (::strcasecmp(encoding_.c_str(), "CP437") != 0)
        converter_ = std::make_shared<Converter>(encoding_);
}

std::optional<std::string> LegacyDecoder::TryDecode(std::string_view bytes) const
{
    if (!converter_)
        return Cp437ToUtf8(bytes);
    std::string out;
    if (!converter_->Convert(bytes, out, true))
        return std::nullopt;
    return out;
}

std::string LegacyDecoder::Decode(std::string_view bytes) const
{
    if (!converter_)
        return Cp437ToUtf8(bytes);
    std::string out;
    converter_->Convert(bytes, out, false);
    return out;
}

} // namespace pellux
