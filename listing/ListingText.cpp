#include "listing/ListingText.h"

#include "platform/Exceptions.h"
#include "util/KqStringUtil.h"
#include "util/NameCodec.h"
#include "util/ZipRecords.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pellux {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Every field shown is 0..99 but the year; printf is slow for a million rows.
std::string TwoDigits(int value)
{
    if (value < 0 || value > 99) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d", value);
        return text;
    }
    return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

// A whole decimal integer, nothing else; nullopt-like false when it does not parse.
bool ParseInt(std::string_view text, long long &value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && begin != end;
}

bool ParseDecimal(std::string_view text, double &value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && begin != end;
}

// Characters first..first+count-1 (1-based) of text as an integer.
bool FieldAt(std::string_view text, std::size_t first, std::size_t count, long long &value)
{
    if (text.size() < first - 1 + count)
        return false;
    return ParseInt(text.substr(first - 1, count), value);
}

// The key of a row whose date or time is invalid: before every real moment.
constexpr std::int64_t kInvalidDateTimeKey = -1;

TDateTime DateTimeKeyOf(const ListTexts &texts)
{
    const std::string_view date = texts[ColDate];
    const std::string_view time = texts[ColTime];
    long long month, day, year, hour, minute;
    if (FieldAt(date, 1, 2, month) && FieldAt(date, 4, 2, day) && FieldAt(date, 7, 4, year) && FieldAt(time, 1, 2, hour)
        && FieldAt(time, 4, 2, minute)) {
        try {
            return EncodeDateTime(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                                  static_cast<int>(hour), static_cast<int>(minute), 0);
        } catch (const EConvertError &) {
        }
    }
    return TDateTime{}; // 1 January 1988, 00:00
}

} // namespace

std::int64_t TDateTime::SortKey() const
{
    return ((((static_cast<std::int64_t>(Year) * 100 + Month) * 100 + Day) * 100 + Hour) * 100 + Minute) * 100 + Second;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        throw EConvertError("Invalid argument to date encode");
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60)
        throw EConvertError("Invalid argument to time encode");
    return TDateTime{year, month, day, hour, minute, second};
}

TDateTime DosDateTimeToDateTime(std::uint32_t dos)
{
    return EncodeDateTime(static_cast<int>(dos >> 25) + 1980, static_cast<int>((dos >> 21) & 0x0F),
                          static_cast<int>((dos >> 16) & 0x1F), static_cast<int>((dos >> 11) & 0x1F),
                          static_cast<int>((dos >> 5) & 0x3F), static_cast<int>(dos & 0x1F) * 2);
}

std::string FormatListDate(const TDateTime &dt, char sep)
{
    // Years run from 1 to 9999: four digits, as "%04d" would give.
    std::string text;
    text.reserve(10);
    text += TwoDigits(dt.Month);
    text += sep;
    text += TwoDigits(dt.Day);
    text += sep;
    text += TwoDigits(dt.Year / 100);
    text += TwoDigits(dt.Year % 100);
    return text;
}

std::string FormatListTime(const TDateTime &dt, char sep) { return TwoDigits(dt.Hour) + sep + TwoDigits(dt.Minute); }

ListDateTime ListDateTimeOf(std::uint32_t dos)
{
    ListDateTime result;
    const int year = static_cast<int>(dos >> 25) + 1980, month = static_cast<int>((dos >> 21) & 0x0F),
              day = static_cast<int>((dos >> 16) & 0x1F), hour = static_cast<int>((dos >> 11) & 0x1F),
              minute = static_cast<int>((dos >> 5) & 0x3F), second = static_cast<int>(dos & 0x1F) * 2;
    try {
        const TDateTime date = EncodeDateTime(year, month, day, 0, 0, 0);
        result.Value.Year = date.Year;
        result.Value.Month = date.Month;
        result.Value.Day = date.Day;
    } catch (const EConvertError &) {
        result.DateValid = false;
    }
    try {
        const TDateTime time = EncodeDateTime(1980, 1, 1, hour, minute, second);
        result.Value.Hour = time.Hour;
        result.Value.Minute = time.Minute;
        result.Value.Second = time.Second;
    } catch (const EConvertError &) {
        result.TimeValid = false;
    }
    return result;
}

std::string SizeText(std::uint64_t size) { return size > 0 ? std::to_string(size) : std::string(" "); }

std::string RatioText(std::uint64_t compressedSize, std::uint64_t uncompressedSize)
{
    const double ratio =
        uncompressedSize > 0 ? 1.0 - static_cast<double>(compressedSize) / static_cast<double>(uncompressedSize) : 0.0;
    if (!(ratio > 0))
        return " ";
    // nearbyint rounds an exact half to the even neighbour: 62.5 gives 62.
    std::string text = std::to_string(static_cast<long long>(std::nearbyint(ratio * 100)));
    text += '%';
    return text;
}

long long ListingBuilder::FindLastSeparator(std::string_view name)
{
    PathSeparator = '/';
    long long p = LastPos("/", name);
    if (p == static_cast<long long>(name.size())) {
        // Ends in "/" (a directory entry) or is empty: try the other separator.
        p = LastPos("\\", name);
        if (p > 0)
            PathSeparator = '\\';
    }
    return p;
}

std::string ListingBuilder::ExtractPathPart(std::string_view name)
{
    const long long p = FindLastSeparator(name);
    return p < 1 ? std::string() : std::string(name.substr(0, static_cast<std::size_t>(p - 1)));
}

std::string ListingBuilder::ExtractNamePart(std::string_view name)
{
    const long long p = FindLastSeparator(name);
    return p < 1 ? std::string(name) : std::string(name.substr(static_cast<std::size_t>(p)));
}

ListRow ListingBuilder::AddListRow(const std::string &fileName, const std::string &name, std::uint64_t compressedSize,
                                   const ListDateTime &dateTime, std::uint64_t uncompressedSize)
{
    ListRow row;
    FillListRow(row, fileName, name, compressedSize, dateTime, uncompressedSize);
    return row;
}

void ListingBuilder::FillListRow(ListRow &row, std::string_view fileName, std::string_view name,
                                 std::uint64_t compressedSize, const ListDateTime &dateTime,
                                 std::uint64_t uncompressedSize)
{
    row.StoredName.assign(fileName);
    for (int column = 0; column < kListColumnCount; ++column)
        FillColumn(row.Text[static_cast<std::size_t>(column)], column, fileName, name, compressedSize, dateTime,
                   uncompressedSize);
}

void ListingBuilder::FillColumn(std::string &text, int column, std::string_view fileName, std::string_view name,
                                std::uint64_t compressedSize, const ListDateTime &dateTime,
                                std::uint64_t uncompressedSize)
{
    switch (column) {
    case ColFilename:
    case ColPath: {
        long long p = FindLastSeparator(name);
        // As ExtractNamePart and ExtractPathPart split it, except that a file's name is
        // what follows the last separator of either kind: extraction writes "docs\a.txt"
        // as a.txt in docs, and the row shows where the file lands.
        if (const auto last = name.find_last_of("/\\"); last != std::string_view::npos && last + 1 < name.size())
            p = static_cast<long long>(last + 1);
        // Bytes the name rule could not read show as \xHH, the separators then as "/".
        if (EscapedBackslashes(fileName, name)) {
            const auto last = name.find_last_of('/');
            p = last != std::string_view::npos && last + 1 < name.size() ? static_cast<long long>(last + 1) : 0;
        }
        const std::string_view part = column == ColFilename
            ? (p < 1 ? name : name.substr(static_cast<std::size_t>(p)))
            : (p < 1 ? std::string_view() : name.substr(0, static_cast<std::size_t>(p - 1)));
        // A plain name is copied into the text's own buffer: a sort makes a million.
        if (IsPlainName(part))
            text.assign(part);
        else
            text = VisibleName(part);
        break;
    }
    case ColDate:
        text = dateTime.DateValid ? FormatListDate(dateTime.Value, dateSeparator_) : std::string(" ");
        break;
    case ColTime:
        text = dateTime.TimeValid ? FormatListTime(dateTime.Value, timeSeparator_) : std::string(" ");
        break;
    case ColSize:
        text = SizeText(uncompressedSize);
        break;
    case ColRatio:
        text = RatioText(compressedSize, uncompressedSize);
        break;
    case ColPacked:
        text = SizeText(compressedSize);
        break;
    default:
        text.clear();
        break;
    }
}

ListRow ListingBuilder::AddListRow(const std::string &fileName, std::uint64_t compressedSize, const TDateTime &dateTime,
                                   std::uint64_t uncompressedSize)
{
    return AddListRow(fileName, DecodeStoredName(fileName), compressedSize, ListDateTime{dateTime}, uncompressedSize);
}

bool IsTextColumn(int column) { return column == ColFilename || column == ColPath; }

void AppendTextKey(std::string &keys, std::string_view text)
{
    const std::size_t from = keys.size();
    keys += text;
    for (auto c = keys.begin() + static_cast<std::ptrdiff_t>(from); c != keys.end(); ++c)
        if (*c >= 'A' && *c <= 'Z')
            *c = static_cast<char>(*c - 'A' + 'a');
}

SortKey SortKeyOf(const ListTexts &texts, int column)
{
    SortKey key;
    long long integer = 0;
    switch (column) {
    case ColFilename:
    case ColPath:
        AppendTextKey(key.Text, texts[column]);
        break;
    case ColDate:
    case ColTime:
        key.Number = texts[ColDate] == " " || texts[ColTime] == " "
            ? static_cast<double>(kInvalidDateTimeKey)
            : static_cast<double>(DateTimeKeyOf(texts).SortKey());
        break;
    case ColSize:
    case ColPacked:
        key.Number = ParseInt(texts[column], integer) ? static_cast<double>(integer) : 0.0;
        break;
    case ColRatio: {
        const std::string_view text = texts[column];
        const auto percent = text.find('%');
        double value = 0;
        if (percent != std::string_view::npos && ParseDecimal(Trim(text.substr(0, percent)), value))
            key.Number = value;
        break;
    }
    default:
        break;
    }
    return key;
}

SortKey SortKeyOf(const ListRow &row, int column)
{
    ListTexts texts;
    for (int c = 0; c < kListColumnCount; ++c)
        texts[c] = row.Text[c];
    return SortKeyOf(texts, column);
}

bool KeyLess(const SortKey &a, const SortKey &b, int column)
{
    return IsTextColumn(column) ? a.Text < b.Text : a.Number < b.Number;
}

bool CompareItems(const ListRow &Item1, const ListRow &Item2, int column)
{
    if (column < 0 || column >= kListColumnCount)
        return false;
    return !KeyLess(SortKeyOf(Item2, column), SortKeyOf(Item1, column), column);
}

} // namespace pellux
