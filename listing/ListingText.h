#pragma once
// The texts of the archive listing, shared by the main window and pellux-cli: one row
// per entry with the seven column texts, and the sort keys read back from those texts.
// Texts are UTF-8; stored names are split as raw bytes and then decoded for display.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pellux {

enum ListColumn : int {
    ColFilename = 0,
    ColDate = 1,
    ColTime = 2,
    ColSize = 3,
    ColRatio = 4,
    ColPacked = 5,
    ColPath = 6,
};
inline constexpr int kListColumnCount = 7;
inline constexpr std::array<const char *, kListColumnCount> kListColumnCaptions = {"Filename", "date",   "Time", "Size",
                                                                                   "Ratio",    "Packed", "Path"};
inline constexpr std::array<int, kListColumnCount> kListColumnWidths = {145, 72, 65, 65, 50, 65, 300};

struct TDateTime {
    int Year = 1988, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
    // Grows with the date-time: comparing keys compares moments.
    std::int64_t SortKey() const;
};

// Throws EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
// MS-DOS packed date-time: date in the high 16 bits, time in the low 16 bits.
TDateTime DosDateTimeToDateTime(std::uint32_t dosDateTime);

std::string FormatListDate(const TDateTime &dt, char dateSeparator); // "mm/dd/yyyy"
std::string FormatListTime(const TDateTime &dt, char timeSeparator); // "hh:mm"
// Which parts of an entry's DOS date-time are valid: an invalid date or time shows as
// " " (and sorts first) instead of ending the listing.
struct ListDateTime {
    TDateTime Value;
    bool DateValid = true;
    bool TimeValid = true;
};
ListDateTime ListDateTimeOf(std::uint32_t dosDateTime);

// Zero shows as " ".
std::string SizeText(std::uint64_t size);
std::string RatioText(std::uint64_t compressedSize, std::uint64_t uncompressedSize);

struct ListRow {
    std::string StoredName; // the entry's exact stored bytes
    std::array<std::string, kListColumnCount> Text;
};

// Splits stored names and builds rows; remembers the separator of the last split.
class ListingBuilder {
public:
    ListingBuilder(char dateSeparator, char timeSeparator)
        : dateSeparator_(dateSeparator), timeSeparator_(timeSeparator)
    {
    }

    char PathSeparator = '/';

    long long FindLastSeparator(std::string_view name);
    std::string ExtractPathPart(std::string_view name);
    std::string ExtractNamePart(std::string_view name);

    // `name` is the entry's name in UTF-8 as extraction writes it; it is split into
    // file name and path, each shown with control and direction characters escaped.
    ListRow AddListRow(const std::string &fileName, const std::string &name, std::uint64_t compressedSize,
                       const ListDateTime &dateTime, std::uint64_t uncompressedSize);
    // The same into `row`, whose strings keep their memory: a million rows need not
    // allocate each one's texts anew.
    void FillListRow(ListRow &row, std::string_view fileName, std::string_view name, std::uint64_t compressedSize,
                     const ListDateTime &dateTime, std::uint64_t uncompressedSize);
    // One column's text of that row, as FillListRow makes it; `dateTime` is read only
    // for the date and time.
    void FillColumn(std::string &text, int column, std::string_view fileName, std::string_view name,
                    std::uint64_t compressedSize, const ListDateTime &dateTime, std::uint64_t uncompressedSize);
    // The stored bytes decoded as the name.
    ListRow AddListRow(const std::string &fileName, std::uint64_t compressedSize, const TDateTime &dateTime,
                       std::uint64_t uncompressedSize);

private:
    char dateSeparator_;
    char timeSeparator_;
};

// What a row sorts by in one column, parsed back from its texts.
struct SortKey {
    double Number = 0;
    std::string Text;
};
bool IsTextColumn(int column);
// Appends what a name or path sorts by (SortKey::Text): the text, lowered.
void AppendTextKey(std::string &keys, std::string_view text);
// The seven column texts of a row, wherever they are kept.
using ListTexts = std::array<std::string_view, kListColumnCount>;
SortKey SortKeyOf(const ListTexts &texts, int column);
SortKey SortKeyOf(const ListRow &row, int column);
bool KeyLess(const SortKey &a, const SortKey &b, int column);
// True when Item1's key for the column is less than or equal to Item2's; false for a
// column that does not exist.
bool CompareItems(const ListRow &Item1, const ListRow &Item2, int column);

} // namespace pellux
