#pragma once
// What adding needs to know about an archive entry beyond libzip's stat: its exact
// modification time.
#include <zip.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace pellux::libs {

// Info-ZIP extended timestamp extra field (APPNOTE 4.6).
inline constexpr zip_uint16_t kExtraTimestamp = 0x5455;

// The extended timestamp's modification time (UTC) when present, else the DOS time.
std::time_t EntryMtime(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat);

// The body of an extended timestamp field that holds a modification time.
std::string TimestampField(std::time_t mtime);

std::string ArchiveError(zip_t *archive);
std::string ErrorText(int zipError);

} // namespace pellux::libs
