#pragma once
// Stored entry names are raw bytes. A name is read as UTF-8 when its bytes are valid
// UTF-8; otherwise in a legacy code page: code page 437 (the ZIP format's original
// one), or the OEM code page Windows uses for the user's language. Code page 437 has a
// table of its own; every other goes through iconv.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pellux {

bool IsValidUtf8(std::string_view bytes);
std::string Cp437ToUtf8(std::string_view bytes);
// The display form of a stored name without archive context: valid UTF-8 as it is,
// anything else as code page 437. Always valid UTF-8.
std::string DecodeStoredName(std::string_view bytes);

// The valid UTF-8 of the bytes kept, each byte that starts no valid sequence written as
// the four characters \xHH (upper-case hex). Always valid UTF-8.
std::string EscapeInvalidUtf8(std::string_view bytes);

// A name flagged UTF-8 whose bytes are not, as the name rule reads it: its separators
// as "/" and each bad byte as \xHH, so that a backslash in it separates nothing.
std::string FlaggedNameWithBadBytes(std::string_view bytes);

// Whether the backslashes of a decoded name are escapes of bytes that could not be read
// (its separators then are all "/"): the stored bytes were no UTF-8 and it holds \xHH.
bool EscapedBackslashes(std::string_view stored, std::string_view name);

// The OEM code page of the user's language ("CP866"), from LC_ALL, LC_CTYPE or LANG.
std::string UserCodePage();
// The OEM code page of a locale name ("ru_RU.UTF-8" gives "CP866"; unknown: "CP437").
std::string LocaleCodePage(std::string_view locale);
// Whether iconv can read names in the encoding `name`.
bool IsKnownEncoding(const std::string &name);

// Reads names in one legacy code page. Copies share the converter; each use is
// serialised, so copies may serve several threads.
class LegacyDecoder {
public:
    // An unknown encoding reads every byte above 0x7F as \xHH.
    explicit LegacyDecoder(std::string encoding = "CP437");
    const std::string &Encoding() const { return encoding_; }
    // The name in UTF-8, nullopt when a byte sequence is not of the code page.
    std::optional<std::string> TryDecode(std::string_view bytes) const;
    // The same, with each byte the code page cannot read as \xHH.
    std::string Decode(std::string_view bytes) const;

private:
    struct Converter;
    std::string encoding_;
    std::shared_ptr<Converter> converter_; // null for code page 437, read by the table
};

} // namespace pellux
