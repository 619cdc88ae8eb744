#include "libs/common/EntryInfo.h"

#include "util/LittleEndian.h"

#include <algorithm>
#include <cstdint>

namespace pellux::libs {

std::time_t EntryMtime(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat)
{
    zip_uint16_t length = 0;
    // Flags byte, then the modification time when bit 0 is set (seconds since 1970, UTC).
    const zip_uint8_t *field =
        zip_file_extra_field_get_by_id(archive, index, kExtraTimestamp, 0, &length, ZIP_FL_CENTRAL);
    if (field && length >= 5 && (field[0] & 1))
        return static_cast<std::time_t>(le::U32(field + 1));
    return (stat.valid & ZIP_STAT_MTIME) ? stat.mtime : 0;
}

std::string TimestampField(std::time_t mtime)
{
    // The field holds an unsigned 32-bit count: a time before 1970 is stored as 1970
    // and one after February 2106 as the last second it can hold, not wrapped around.
    const auto t = static_cast<std::uint32_t>(std::clamp<std::time_t>(mtime, 0, 0xFFFFFFFF));
    return std::string{'\x01', char(t & 0xFF), char((t >> 8) & 0xFF), char((t >> 16) & 0xFF), char((t >> 24) & 0xFF)};
}

std::string ArchiveError(zip_t *archive) { return zip_strerror(archive); }

std::string ErrorText(int zipError)
{
    zip_error_t error;
    zip_error_init_with_code(&error, zipError);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

} // namespace pellux::libs
