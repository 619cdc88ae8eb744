#pragma once
// MS-DOS date-time fields (APPNOTE 4.4.6) as a time on this machine's clock.
#include <cstdint>
#include <ctime>

namespace pellux::libs {

// Local time, as DOS times are. An impossible field (month 0 or 13, day 31 of April,
// hour 24, second 60) is clamped to the nearest valid value, each field on its own,
// so a damaged date still lands near what its writer meant.
std::time_t DosDateTimeToTime(std::uint32_t dosDateTime);

} // namespace pellux::libs
