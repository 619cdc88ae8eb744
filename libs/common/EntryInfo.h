#pragma once
// What both libraries need to know about an archive entry beyond libzip's stat: its
// name on disk, its Unix mode and its exact modification time.
#include <zip.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace pellux::libs {

// Info-ZIP extra fields (APPNOTE 4.6): extended timestamp and Unicode Path.
inline constexpr zip_uint16_t kExtraTimestamp = 0x5455;
inline constexpr zip_uint16_t kExtraUnicodePath = 0x7075;

// The name rule: a Unicode Path field whose CRC matches the stored name wins; else the
// stored bytes when they are valid UTF-8; else the bytes read as code page 437.
std::string DiskName(zip_t *archive, zip_uint64_t index, std::string_view stored);

// The Unix mode (type and permission bits) when the entry was made on a Unix host.
std::optional<unsigned> UnixMode(zip_t *archive, zip_uint64_t index);

// The extended timestamp's modification time (UTC) when present, else the DOS time.
std::time_t EntryMtime(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat);

// The body of an extended timestamp field that holds a modification time.
std::string TimestampField(std::time_t mtime);

std::string ArchiveError(zip_t *archive);
std::string ErrorText(int zipError);

} // namespace pellux::libs
