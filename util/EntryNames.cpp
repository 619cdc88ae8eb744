// The name rule: how a stored name reads (Unicode Path field, UTF-8, or a legacy code
// page) and the one choice of code page for all of an archive's legacy names.
#include "util/ZipRecords.h"

#include "util/LittleEndian.h"
#include "util/NameCodec.h"
#include "util/NameTables.h"

#include <zlib.h>

namespace pellux {

namespace {

// The Unicode Path field's name (version 1, the CRC-32 of the stored name, then the
// name in UTF-8) when it belongs to this stored name.
std::optional<std::string_view> UnicodePath(std::string_view stored, std::string_view extra)
{
    const auto field = FindExtraField(extra, kExtraUnicodePath);
    if (!field || field->size() <= 5 || (*field)[0] != 1)
        return std::nullopt;
    const auto crc = ::crc32(0L, reinterpret_cast<const Bytef *>(stored.data()), static_cast<uInt>(stored.size()));
    const std::string_view unicode = field->substr(5);
    if (le::U32(reinterpret_cast<const unsigned char *>(field->data()) + 1) != crc || !IsValidUtf8(unicode))
        return std::nullopt;
    return unicode;
}

NameKind KindOf(const StoredName &name, std::optional<std::string_view> &unicode)
{
    unicode = UnicodePath(name.Bytes, name.Extra);
    if (unicode)
        return NameKind::UnicodePath;
    if (IsValidUtf8(name.Bytes))
        return NameKind::Utf8;
    if (name.Flags & kFlagUtf8)
        return NameKind::FlaggedBroken;
    return name.VersionMadeBy && pellux_unix_like_host(*name.VersionMadeBy) ? NameKind::LegacyOther
                                                                            : NameKind::LegacyOem;
}

// How the names read in one code page; nullopt when a byte sequence is not of it.
std::optional<pellux_name_score> Score(const LegacyDecoder &decoder, const std::vector<std::string_view> &names)
{
    pellux_name_score score{0, 0};
    for (const auto name : names) {
        const auto text = decoder.TryDecode(name);
        if (!text)
            return std::nullopt;
        pellux_score_name(reinterpret_cast<const unsigned char *>(text->data()), text->size(), &score);
    }
    return score;
}

} // namespace

NameKind KindOfName(const StoredName &name)
{
    std::optional<std::string_view> unicode;
    return KindOf(name, unicode);
}

NameDecoding::NameDecoding() : oem_(UserCodePage()), other_("CP437"), encoding_(oem_.Encoding()) {}

std::string NameDecoding::Name(const StoredName &name, NameKind *kind) const
{
    std::optional<std::string_view> unicode;
    const NameKind k = KindOf(name, unicode);
    if (kind)
        *kind = k;
    switch (k) {
    case NameKind::UnicodePath:
        return std::string(*unicode);
    case NameKind::Utf8:
        return std::string(name.Bytes);
    case NameKind::FlaggedBroken:
        return FlaggedNameWithBadBytes(name.Bytes);
    case NameKind::LegacyOem:
        return oem_.Decode(name.Bytes);
    case NameKind::LegacyOther:
        break;
    }
    return other_.Decode(name.Bytes);
}

std::optional<std::string_view> NameDecoding::AsStored(const CentralEntry &entry)
{
    std::optional<std::string_view> unicode;
    if (KindOf(StoredNameOf(entry), unicode) == NameKind::Utf8)
        return entry.Name();
    return std::nullopt;
}

void NameChooser::Add(const StoredName &name)
{
    std::optional<std::string_view> unicode;
    const NameKind kind = KindOf(name, unicode);
    anyLegacy_ = anyLegacy_ || kind == NameKind::LegacyOem || kind == NameKind::LegacyOther;
    if (kind == NameKind::LegacyOem && override_.empty())
        oem_.push_back(name.Bytes);
}

NameDecoding NameChooser::Choose() const
{
    NameDecoding decoding;
    if (!override_.empty()) {
        decoding.oem_ = decoding.other_ = LegacyDecoder(override_);
        decoding.encoding_ = override_;
    } else if (oem_.empty()) {
        decoding.encoding_ = anyLegacy_ ? "CP437" : "UTF-8";
    } else {
        const auto primary = Score(decoding.oem_, oem_);
        if (!primary || primary->bad > 0) {
            // The user's code page reads these names badly: the cleanest reading of
            // another, if one reads them all without a fault, is the likelier one.
            std::optional<LegacyDecoder> best;
            unsigned long bestOdd = 0;
            for (const char *page : pellux_code_pages) {
                if (page == decoding.oem_.Encoding())
                    continue;
                LegacyDecoder candidate(page);
                const auto score = Score(candidate, oem_);
                if (score && score->bad == 0 && (!best || score->odd < bestOdd)) {
                    best = candidate;
                    bestOdd = score->odd;
                }
            }
            if (best)
                decoding.oem_ = *best;
        }
        decoding.encoding_ = decoding.oem_.Encoding();
    }
    if (!anyLegacy_)
        decoding.encoding_ = "UTF-8";
    return decoding;
}

std::string EntryName(std::string_view stored, std::string_view extra)
{
    // One decoder per thread and user code page: iconv is opened once, not per name.
    thread_local std::optional<NameDecoding> automatic;
    if (!automatic || automatic->Encoding() != UserCodePage())
        automatic.emplace();
    return automatic->Name(StoredName{stored, extra, 0, std::nullopt});
}

} // namespace pellux
