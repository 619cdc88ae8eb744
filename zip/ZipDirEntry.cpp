#include "zip/ZipDirEntry.h"

#include "util/LittleEndian.h"

#include <algorithm>

namespace pellux {

namespace {
constexpr std::size_t kBlockSize = 1 << 20;
}

void ZipDirEntry::DecodeFixed(const unsigned char (&fixed)[kFixedSize])
{
    VersionNeeded = le::U16(fixed + 0);
    GeneralPurposeFlag = le::U16(fixed + 2);
    CompressionMethod = le::U16(fixed + 4);
    DosDateTime = le::U32(fixed + 6);
    Crc32 = le::U32(fixed + 10);
    CompressedSize = le::U32(fixed + 14);
    UncompressedSize = le::U32(fixed + 18);
    FileNameLength = le::U16(fixed + 22);
    ExtraFieldLength = le::U16(fixed + 24);
}

ZipEntryList &ZipEntryList::operator=(const ZipEntryList &other)
{
    if (this == &other)
        return *this;
    clear();
    entries_.reserve(other.size());
    for (const ZipDirEntry &e : other) {
        Append(e, e.FileName());
        if (e.hasName_)
            SetName(entries_.size() - 1, e.Name());
    }
    return *this;
}

void ZipEntryList::clear()
{
    std::vector<ZipDirEntry>().swap(entries_);
    blocks_.clear();
    next_ = nullptr;
    free_ = 0;
}

char *ZipEntryList::Allocate(std::size_t size)
{
    if (size > free_) {
        const std::size_t blockSize = std::max(size, kBlockSize);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize));
        next_ = blocks_.back().get();
        free_ = blockSize;
    }
    char *at = next_;
    next_ += size;
    free_ -= size;
    return at;
}

ZipDirEntry &ZipEntryList::Append(const ZipDirEntry &entry, std::string_view storedName)
{
    ZipDirEntry &e = entries_.emplace_back(entry);
    e.hasName_ = false;
    e.nameLength_ = 0;
    e.storedLength_ = static_cast<std::uint32_t>(storedName.size());
    char *at = Allocate(storedName.size());
    std::copy(storedName.begin(), storedName.end(), at);
    e.names_ = at;
    return e;
}

void ZipEntryList::SetName(std::size_t i, std::string_view name)
{
    ZipDirEntry &e = entries_[i];
    if (name == e.FileName()) {
        e.hasName_ = false;
        e.nameLength_ = 0;
        return;
    }
    // The name follows the stored bytes: in place when they were the last ones kept,
    // else both are kept anew (names chosen after the walk, few).
    const std::size_t stored = e.storedLength_;
    if (!e.hasName_ && e.names_ + stored == next_ && name.size() <= free_) {
        std::copy(name.begin(), name.end(), Allocate(name.size()));
    } else {
        char *at = Allocate(stored + name.size());
        std::copy(e.names_, e.names_ + stored, at);
        std::copy(name.begin(), name.end(), at + stored);
        e.names_ = at;
    }
    e.hasName_ = true;
    e.nameLength_ = static_cast<std::uint32_t>(name.size());
}

} // namespace pellux
