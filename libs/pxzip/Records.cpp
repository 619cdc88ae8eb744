#include "libs/pxzip/Records.h"

#include "util/LittleEndian.h"

#include <algorithm>

namespace pellux::libs {

namespace {

constexpr std::uint16_t kExtraZip64 = 0x0001;
constexpr std::uint16_t kVersionZip64 = 45;

void Put16(std::string &out, std::uint32_t v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
void Put32(std::string &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put64(std::string &out, std::uint64_t v)
{
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}
std::uint32_t Clamp32(std::uint64_t v) { return v >= kSaturated32 ? kSaturated32 : static_cast<std::uint32_t>(v); }

} // namespace

std::string LocalHeaderBytes(const EntryRecord &entry, bool zip64)
{
    std::string h;
    Put32(h, 0x04034b50);
    Put16(h, zip64 ? std::max(entry.VersionNeeded, kVersionZip64) : entry.VersionNeeded);
    Put16(h, entry.Flags);
    Put16(h, entry.Method);
    Put32(h, entry.DosDateTime);
    Put32(h, entry.Crc32);
    // A local ZIP64 field holds both sizes, and both classic fields are then saturated.
    Put32(h, zip64 ? kSaturated32 : static_cast<std::uint32_t>(entry.CompressedSize));
    Put32(h, zip64 ? kSaturated32 : static_cast<std::uint32_t>(entry.UncompressedSize));
    Put16(h, static_cast<std::uint32_t>(entry.Name.size()));
    Put16(h, static_cast<std::uint32_t>(entry.Extra.size() + (zip64 ? 20 : 0)));
    h += entry.Name;
    if (zip64) {
        Put16(h, kExtraZip64);
        Put16(h, 16);
        Put64(h, entry.UncompressedSize);
        Put64(h, entry.CompressedSize);
    }
    h += entry.Extra;
    return h;
}

std::string CentralHeaderBytes(const EntryRecord &entry)
{
    // ZIP64 (APPNOTE 4.5.3): only the saturated fields follow, in this order.
    std::string zip64;
    for (std::uint64_t value : {entry.UncompressedSize, entry.CompressedSize, entry.Offset}) {
        if (value >= kSaturated32)
            Put64(zip64, value);
    }
    std::string h;
    Put32(h, 0x02014b50);
    Put16(h, entry.VersionMadeBy);
    Put16(h, zip64.empty() ? entry.VersionNeeded : std::max(entry.VersionNeeded, kVersionZip64));
    Put16(h, entry.Flags);
    Put16(h, entry.Method);
    Put32(h, entry.DosDateTime);
    Put32(h, entry.Crc32);
    Put32(h, Clamp32(entry.CompressedSize));
    Put32(h, Clamp32(entry.UncompressedSize));
    Put16(h, static_cast<std::uint32_t>(entry.Name.size()));
    Put16(h, static_cast<std::uint32_t>(entry.Extra.size() + (zip64.empty() ? 0 : 4 + zip64.size())));
    Put16(h, static_cast<std::uint32_t>(entry.Comment.size()));
    Put16(h, 0); // disk number start
    Put16(h, entry.InternalAttributes);
    Put32(h, entry.ExternalAttributes);
    Put32(h, Clamp32(entry.Offset));
    h += entry.Name;
    if (!zip64.empty()) {
        Put16(h, kExtraZip64);
        Put16(h, static_cast<std::uint32_t>(zip64.size()));
        h += zip64;
    }
    h += entry.Extra;
    h += entry.Comment;
    return h;
}

std::string EndRecordBytes(std::uint64_t entries, std::uint64_t directoryStart, std::uint64_t directorySize,
                           const std::string &comment)
{
    std::string out;
    const bool zip64 = entries >= 0xFFFF || directoryStart >= kSaturated32 || directorySize >= kSaturated32;
    if (zip64) {
        const std::uint64_t end64At = directoryStart + directorySize;
        Put32(out, 0x06064b50);
        Put64(out, 44); // the record's size after this field
        Put16(out, 0x031E);
        Put16(out, kVersionZip64);
        Put32(out, 0); // this disk
        Put32(out, 0); // the directory's disk
        Put64(out, entries);
        Put64(out, entries);
        Put64(out, directorySize);
        Put64(out, directoryStart);
        Put32(out, 0x07064b50); // locator
        Put32(out, 0);
        Put64(out, end64At);
        Put32(out, 1); // disks in all
    }
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, 0xFFFF));
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, count);
    Put16(out, count);
    Put32(out, Clamp32(directorySize));
    Put32(out, Clamp32(directoryStart));
    Put16(out, static_cast<std::uint32_t>(std::min<std::size_t>(comment.size(), 0xFFFF)));
    out.append(comment, 0, std::min<std::size_t>(comment.size(), 0xFFFF));
    return out;
}

std::string WithoutExtraField(std::string_view extra, std::uint16_t id)
{
    std::string out;
    std::size_t i = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(extra.data());
    while (i + 4 <= extra.size()) {
        const std::size_t length = le::U16(p + i + 2);
        const std::size_t end = std::min(extra.size(), i + 4 + length);
        if (le::U16(p + i) != id)
            out.append(extra, i, end - i);
        i = end;
    }
    out.append(extra, std::min(i, extra.size())); // a cut-off tail stays as it was
    return out;
}

std::uint32_t DosDateTime(std::time_t time)
{
    std::tm tm{};
    if (!::localtime_r(&time, &tm) || tm.tm_year < 80)
        return (0u << 25) | (1u << 21) | (1u << 16);
    // The year has 7 bits: later times keep the field's last second, 2107-12-31 23:59:58
    // (the extended timestamp beside it holds the real one).
    if (tm.tm_year > 80 + 127)
        return 127u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u;
    return static_cast<std::uint32_t>(tm.tm_year - 80) << 25 | static_cast<std::uint32_t>(tm.tm_mon + 1) << 21
        | static_cast<std::uint32_t>(tm.tm_mday) << 16 | static_cast<std::uint32_t>(tm.tm_hour) << 11
        | static_cast<std::uint32_t>(tm.tm_min) << 5 | static_cast<std::uint32_t>(tm.tm_sec / 2);
}

std::time_t FromDosDateTime(std::uint32_t dos)
{
    std::tm tm{};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

} // namespace pellux::libs
