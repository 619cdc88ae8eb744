#include "cli/ListDetails.h"

#include "util/ExtractionPlan.h"
#include "util/LittleEndian.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace pellux::cli {

namespace {

constexpr std::uint16_t kHostUnix = 3;
constexpr std::uint16_t kMethodAes = 99;
constexpr std::uint16_t kExtraAes = 0x9901;
constexpr std::uint16_t kExtraNtfs = 0x000A;
constexpr std::uint16_t kFlagStrongEncryption = 1u << 6;

const unsigned char *Bytes(std::string_view s) { return reinterpret_cast<const unsigned char *>(s.data()); }

std::string MethodName(std::uint16_t method)
{
    switch (method) {
    case 0:
        return "Stored";
    case 1:
        return "Shrunk";
    case 2:
    case 3:
    case 4:
    case 5:
        return "Reduced" + std::to_string(method - 1);
    case 6:
        return "Implode";
    case 8:
        return "Deflate";
    case 9:
        return "Deflate64";
    case 12:
        return "BZip2";
    case 14:
        return "LZMA";
    case 20: // the number early writers used before 93 was assigned
    case 93:
        return "Zstd";
    case 95:
        return "XZ";
    case 98:
        return "PPMd";
    default:
        return std::to_string(method);
    }
}

// The 0x9901 field: vendor version, "AE", strength, the real method.
struct AesField {
    std::uint8_t Strength = 0;
    std::uint16_t Method = 0;
};

std::optional<AesField> FindAes(std::string_view extra)
{
    const auto field = FindExtraField(extra, kExtraAes);
    if (!field || field->size() < 7 || field->substr(2, 2) != "AE")
        return std::nullopt;
    return AesField{Bytes(*field)[4], le::U16(Bytes(*field) + 5)};
}

// The modification time as extraction gives it to the file: the extended timestamp
// (UTC), else the NTFS time, else nullopt for the DOS time.
std::optional<std::time_t> ExtraMtime(std::string_view extra)
{
    if (const auto field = FindExtraField(extra, kExtraTimestamp); field && field->size() >= 5 && ((*field)[0] & 1))
        return static_cast<std::time_t>(le::U32(Bytes(*field) + 1));
    if (const auto field = FindExtraField(extra, kExtraNtfs)) {
        const unsigned char *p = Bytes(*field);
        for (std::size_t at = 4; at + 4 <= field->size();) {
            const std::size_t size = le::U16(p + at + 2);
            if (le::U16(p + at) == 1 && size >= 24 && at + 4 + 24 <= field->size()) {
                constexpr std::uint64_t kTicks = 10000000, kFrom1601 = 11644473600;
                return static_cast<std::time_t>(static_cast<std::int64_t>(le::U64(p + at + 4) / kTicks)
                                                - static_cast<std::int64_t>(kFrom1601));
            }
            at += 4 + size;
        }
    }
    return std::nullopt;
}

// The DOS time is a local time, as extraction reads it; nullopt when it is no time.
std::optional<std::time_t> DosTime(std::uint32_t dos)
{
    std::tm tm{};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
        return std::nullopt;
    return std::mktime(&tm);
}

// "2024-02-29T08:05:00+01:00".
std::string Iso8601(std::time_t t)
{
    std::tm tm{};
    if (!::localtime_r(&t, &tm))
        return {};
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &tm);
    std::string iso(text, n);
    if (iso.size() >= 5 && (iso[iso.size() - 5] == '+' || iso[iso.size() - 5] == '-'))
        iso.insert(iso.size() - 2, 1, ':');
    return iso;
}

std::string ModeText(unsigned mode)
{
    char type = '-';
    switch (mode & S_IFMT) {
    case S_IFDIR:
        type = 'd';
        break;
    case S_IFLNK:
        type = 'l';
        break;
    case S_IFIFO:
        type = 'p';
        break;
    case S_IFCHR:
        type = 'c';
        break;
    case S_IFBLK:
        type = 'b';
        break;
    case S_IFSOCK:
        type = 's';
        break;
    default:
        break;
    }
    std::string text(1, type);
    const char *rwx = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400u >> bit)) ? rwx[bit] : '-';
    auto special = [&](std::size_t at, unsigned flag, char set) {
        if (mode & flag)
            text[at] = text[at] == '-' ? static_cast<char>(set - 'a' + 'A') : set;
    };
    special(3, S_ISUID, 's');
    special(6, S_ISGID, 's');
    special(9, S_ISVTX, 't');
    return text;
}

bool IsDirectoryName(std::string_view stored)
{
    return !stored.empty() && (stored.back() == '/' || stored.back() == '\\');
}

} // namespace

ListDetails::ListDetails(const std::string &archive)
{
    fd_ = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    source_ = std::make_unique<FileByteSource>(fd_);
    if (auto directory = ReadCentralDirectory(*source_)) {
        centralNames_ = std::move(directory->NameBytes);
        central_ = std::move(directory->Entries);
        byOffset_.reserve(central_.size());
        for (std::size_t i = 0; i < central_.size(); ++i)
            byOffset_.emplace_back(central_[i].LocalOffset, i);
        std::sort(byOffset_.begin(), byOffset_.end());
    }
}

ListDetails::~ListDetails()
{
    source_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

const CentralEntry *ListDetails::Central(const ZipDirEntry &entry) const
{
    const auto offset = static_cast<std::uint64_t>(entry.HeaderOffset);
    const auto at = std::lower_bound(byOffset_.begin(), byOffset_.end(), std::make_pair(offset, std::size_t{0}));
    return at != byOffset_.end() && at->first == offset ? &central_[at->second] : nullptr;
}

const std::string &ListDetails::LocalExtra(const ZipDirEntry &entry)
{
    static const std::string none;
    if (localOffset_ != entry.HeaderOffset) {
        localOffset_ = entry.HeaderOffset;
        local_.reset();
        if (source_ && entry.HeaderOffset >= 0)
            local_ = ReadLocalHeader(*source_, static_cast<std::uint64_t>(entry.HeaderOffset));
    }
    return local_ ? local_->Extra : none;
}

EntryDetails ListDetails::Of(const ZipDirEntry &entry)
{
    EntryDetails d;
    const CentralEntry *central = Central(entry);
    const std::string_view centralExtra = central ? central->Extra() : std::string_view();

    // AES hides the real method in its extra field; the directory's copy counts, as
    // for extraction, the local one serves an entry the directory lacks.
    std::uint16_t method = entry.CompressionMethod;
    if (method == kMethodAes) {
        auto aes = FindAes(centralExtra);
        if (!aes)
            aes = FindAes(LocalExtra(entry));
        d.Encryption = "AES";
        if (aes) {
            method = aes->Method;
            if (aes->Strength >= 1 && aes->Strength <= 3)
                d.Encryption = "AES-" + std::to_string(64 + 64 * aes->Strength);
        }
    } else if (entry.GeneralPurposeFlag & kFlagEncrypted) {
        d.Encryption = (entry.GeneralPurposeFlag & kFlagStrongEncryption) ? "strong" : "ZipCrypto";
    } else {
        d.Encryption = "none";
    }
    d.Method = MethodName(method);

    std::optional<std::time_t> mtime = ExtraMtime(centralExtra);
    if (!mtime)
        mtime = ExtraMtime(LocalExtra(entry));
    if (!mtime)
        mtime = DosTime(entry.DosDateTime);
    if (mtime)
        d.Mtime = Iso8601(*mtime);

    // The Unix mode where a Unix host stored one; else what its name and MS-DOS
    // attributes say.
    const bool directoryName = IsDirectoryName(entry.FileName());
    unsigned mode = central && (central->VersionMadeBy >> 8) == kHostUnix ? central->ExternalAttributes >> 16 : 0;
    if (mode == 0) {
        const unsigned dos = central ? central->ExternalAttributes & 0xFF : 0;
        if (directoryName || (dos & 0x10))
            mode = S_IFDIR | 0755;
        else
            mode = S_IFREG | ((dos & 0x01) ? 0444 : 0644);
    } else if ((mode & S_IFMT) == 0) {
        mode |= directoryName ? S_IFDIR : S_IFREG;
    }
    d.Mode = ModeText(mode);
    d.Link = !directoryName && S_ISLNK(mode);
    return d;
}

std::optional<std::string> ListDetails::LinkTarget(const ZipDirEntry &entry, std::string *why)
{
    CentralEntry data;
    data.Flags = entry.GeneralPurposeFlag;
    data.Method = entry.CompressionMethod;
    data.Crc32 = entry.Crc32;
    data.CompressedSize = entry.CompressedSize;
    data.UncompressedSize = entry.UncompressedSize;
    LocalExtra(entry);
    if (!local_) {
        *why = "its data cannot be read";
        return std::nullopt;
    }
    return ReadLinkTarget(*source_, data, local_->DataStart, why);
}

} // namespace pellux::cli
