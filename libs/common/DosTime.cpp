#include "libs/common/DosTime.h"

#include <algorithm>

namespace pellux::libs {

std::time_t DosDateTimeToTime(std::uint32_t dosDateTime)
{
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const unsigned date = dosDateTime >> 16;
    const unsigned time = dosDateTime & 0xFFFF;
    const int year = 1980 + static_cast<int>(date >> 9);
    const int month = std::clamp(static_cast<int>((date >> 5) & 15), 1, 12);
    int last = kDays[month - 1];
    if (month == 2 && (year % 4 != 0 || (year % 100 == 0 && year % 400 != 0)))
        last = 28;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = std::clamp(static_cast<int>(date & 31), 1, last);
    tm.tm_hour = std::min(static_cast<int>(time >> 11), 23);
    tm.tm_min = std::min(static_cast<int>((time >> 5) & 63), 59);
    tm.tm_sec = std::min(static_cast<int>(time & 31) * 2, 59);
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

} // namespace pellux::libs
