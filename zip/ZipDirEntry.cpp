#include "zip/ZipDirEntry.h"

#include "util/LittleEndian.h"

#include <algorithm>

namespace pellux {

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
    names_.Clear();
}

ZipDirEntry &ZipEntryList::Append(const ZipDirEntry &entry, std::string_view storedName)
{
    ZipDirEntry &e = entries_.emplace_back(entry);
    e.hasName_ = false;
    e.nameLength_ = 0;
    e.storedLength_ = static_cast<std::uint32_t>(storedName.size());
    e.names_ = names_.Keep(storedName, {});
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
    if (!e.hasName_ && names_.Continues(e.names_ + stored, name.size()))
        std::copy(name.begin(), name.end(), names_.Allocate(name.size()));
    else
        e.names_ = names_.Keep({e.names_, stored}, name);
    e.hasName_ = true;
    e.nameLength_ = static_cast<std::uint32_t>(name.size());
}

} // namespace pellux
