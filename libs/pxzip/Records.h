#pragma once
// The records the writer puts around the entries' data (APPNOTE 4.3): local headers,
// central directory headers and the end records, with ZIP64 fields wherever a size, an
// offset or the entry count outgrows the classic ones.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace pellux::libs {

inline constexpr std::uint16_t kMethodStore = 0;
inline constexpr std::uint16_t kMethodDeflate = 8;
inline constexpr std::uint32_t kSaturated32 = 0xFFFFFFFFu;

// One entry as the central directory describes it. Extra never holds a ZIP64 field:
// the writer adds one where the values need it.
struct EntryRecord {
    std::string Name; // stored bytes
    std::string Extra;
    std::string Comment;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = kMethodStore;
    std::uint32_t DosDateTime = 0;
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint16_t InternalAttributes = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint64_t Offset = 0; // of the local header in the new archive
};

// A file's size from which its local header carries ZIP64 sizes: the header is written
// before the data, and compressed data may come out a little larger than the input.
inline constexpr std::uint64_t kLocalZip64From = 0xFFFF0000u;

// The local header of an entry the writer makes; its sizes are patched after the data
// by writing the header again (it keeps its length).
std::string LocalHeaderBytes(const EntryRecord &entry, bool zip64);
std::string CentralHeaderBytes(const EntryRecord &entry);
// The end of central directory record, preceded by the ZIP64 end record and locator
// when the count or the directory's place needs them.
std::string EndRecordBytes(std::uint64_t entries, std::uint64_t directoryStart, std::uint64_t directorySize,
                           const std::string &comment);

// Extra field bytes without the field `id`.
std::string WithoutExtraField(std::string_view extra, std::uint16_t id);
// MS-DOS date (high 16 bits) and time of a local time; 1980 for anything earlier, the
// end of 2107 for anything later.
std::uint32_t DosDateTime(std::time_t time);
std::time_t FromDosDateTime(std::uint32_t dos);

} // namespace pellux::libs
