#pragma once
// One archive entry as the component holds it: the 26 fixed bytes of a ZIP local file
// header (APPNOTE 4.3.7, after the signature) and the stored name. Sizes are the true
// ones: from the ZIP64 field or the central directory where the header holds none.
// The names live in the list's blocks, not in one string each: a million entries
// stay small.
#include "platform/HugePages.h"
#include "util/KeptBytes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pellux {

// A name as a view that still converts to std::string, for callers that keep a copy.
struct EntryNameView : std::string_view {
    using std::string_view::string_view;
    EntryNameView(std::string_view text) : std::string_view(text) {}
    operator std::string() const { return std::string(data(), size()); }
};

class ZipEntryList;

struct ZipDirEntry {
    // Fields ordered so that a million entries pack without padding.
    std::uint16_t VersionNeeded = 0;      // version needed to extract
    std::uint16_t GeneralPurposeFlag = 0; // general purpose bit flag
    std::uint16_t CompressionMethod = 0;
    std::uint16_t FileNameLength = 0;
    std::uint32_t DosDateTime = 0; // time in the low 16 bits, date in the high 16
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::int64_t HeaderOffset = 0; // where the local header starts in the file
    std::uint16_t ExtraFieldLength = 0;

    // The name bytes exactly as stored (no code-page conversion, separators kept, a NUL
    // byte kept too).
    EntryNameView FileName() const { return {names_, storedLength_}; }
    // The name as extraction writes it, in UTF-8 (the Unicode Path field when its CRC
    // matches, else the stored bytes decoded); held only where it differs from
    // FileName, as for few names.
    EntryNameView Name() const { return hasName_ ? EntryNameView(names_ + storedLength_, nameLength_) : FileName(); }
    // Traditional encryption sets bit 0; AES entries have method 99 (and bit 0 too).
    bool Encrypted() const { return (GeneralPurposeFlag & 1u) || CompressionMethod == 99; }

    static constexpr std::size_t kFixedSize = 26;
    // Fills the fixed fields from the 26 bytes that follow a local header signature.
    void DecodeFixed(const unsigned char (&fixed)[kFixedSize]);

private:
    friend class ZipEntryList;
    bool hasName_ = false;
    std::uint32_t storedLength_ = 0;
    std::uint32_t nameLength_ = 0;
    const char *names_ = nullptr; // the stored bytes, then the UTF-8 name where it differs
};

// The entries of one listing in order, with their names end to end in blocks that never
// move. Copies copy the names.
class ZipEntryList {
public:
    using value_type = ZipDirEntry;
    using const_iterator = std::vector<ZipDirEntry>::const_iterator;

    ZipEntryList() = default;
    ZipEntryList(const ZipEntryList &other) { *this = other; }
    ZipEntryList &operator=(const ZipEntryList &other);
    ZipEntryList(ZipEntryList &&) noexcept = default;
    ZipEntryList &operator=(ZipEntryList &&) noexcept = default;

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const ZipDirEntry &operator[](std::size_t i) const { return entries_[i]; }
    const ZipDirEntry &front() const { return entries_.front(); }
    const ZipDirEntry &back() const { return entries_.back(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    void reserve(std::size_t count)
    {
        entries_.reserve(count);
        AdviseHugePagesFor(entries_);
    }
    // Lets go of the entries and their memory.
    void clear();

    // Appends the entry with its stored name (its own names ignored); returns it, for
    // the fields its reader fills in later.
    ZipDirEntry &Append(const ZipDirEntry &entry, std::string_view storedName);
    ZipDirEntry &At(std::size_t i) { return entries_[i]; }
    // Sets entry i's UTF-8 name; a name equal to the stored one is not kept again.
    void SetName(std::size_t i, std::string_view name);

private:
    std::vector<ZipDirEntry> entries_;
    KeptBytes names_;
};

} // namespace pellux
