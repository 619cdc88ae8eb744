#pragma once
// The records of a ZIP archive as they stand in the file: the central directory, each
// entry's local header, and what a reader learns by holding the two side by side. The
// archive reader and both libraries read through this one view, so the listing shows
// what extraction writes.
#include "util/EndRecord.h"
#include "util/KeptBytes.h"
#include "util/NameCodec.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellux {

// Bytes by position: a file or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // True when all `length` bytes at `offset` were read.
    virtual bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) = 0;
};

class FileByteSource final : public ByteSource {
public:
    // Borrows the descriptor.
    explicit FileByteSource(int fd);
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) override;

private:
    int fd_;
    std::uint64_t size_ = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) override;

private:
    std::string_view bytes_;
};

inline constexpr std::uint16_t kFlagEncrypted = 1u << 0;
inline constexpr std::uint16_t kFlagDataDescriptor = 1u << 3; // sizes and CRC follow the data
inline constexpr std::uint16_t kFlagUtf8 = 1u << 11;
inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraTimestamp = 0x5455;
inline constexpr std::uint16_t kExtraUnicodePath = 0x7075;

// An entry's name and extra field, side by side: its own, or kept by its directory. A
// copy always has its own; a move takes what the other had.
class EntryBytes {
public:
    EntryBytes() = default;
    EntryBytes(const EntryBytes &other) { Set(other.First(), other.Second()); }
    EntryBytes &operator=(const EntryBytes &other)
    {
        if (this != &other)
            Set(other.First(), other.Second());
        return *this;
    }
    EntryBytes(EntryBytes &&other) noexcept { Take(other); }
    EntryBytes &operator=(EntryBytes &&other) noexcept
    {
        if (this != &other)
            Take(other);
        return *this;
    }

    std::string_view First() const { return {data_, firstLength_}; }
    std::string_view Second() const { return {data_ + firstLength_, secondLength_}; }
    // Either view may point into the bytes held now.
    void Set(std::string_view first, std::string_view second);
    void SetKept(KeptBytes &kept, std::string_view first, std::string_view second);
    void Clear() noexcept;

private:
    void Take(EntryBytes &other) noexcept;

    std::unique_ptr<char[]> own_; // null when the bytes are kept elsewhere
    const char *data_ = "";
    std::uint32_t firstLength_ = 0;
    std::uint32_t secondLength_ = 0;
};

// One central directory file header, ZIP64 fields applied.
struct CentralEntry {
    // The stored name's bytes, whole (a NUL byte included).
    std::string_view Name() const { return bytes_.First(); }
    std::string_view Extra() const { return bytes_.Second(); }
    void SetName(std::string_view name) { bytes_.Set(name, Extra()); }
    void SetExtra(std::string_view extra) { bytes_.Set(Name(), extra); }
    void SetNameAndExtra(std::string_view name, std::string_view extra) { bytes_.Set(name, extra); }
    // The two in bytes `kept` holds: read only while it holds them, unless copied.
    void KeepNameAndExtra(KeptBytes &kept, std::string_view name, std::string_view extra)
    {
        bytes_.SetKept(kept, name, extra);
    }
    // Gives up the two (their memory too, when the entry's own).
    void ReleaseNameAndExtra() { bytes_.Clear(); }

    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint32_t DosDateTime = 0; // time in the low 16 bits
    std::uint32_t Crc32 = 0;
    std::uint32_t DiskStart = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint64_t StatedOffset = 0; // the local header's offset as stored
    std::uint64_t LocalOffset = 0;  // where it really is: stated plus the archive's shift

private:
    EntryBytes bytes_;
};

struct CentralDirectory {
    pellux_end_record End{};
    KeptBytes NameBytes; // the entries' names and extra fields
    std::vector<CentralEntry> Entries;
    // Empty when every header up to the directory's stated size was read; else why the
    // reading stopped (the entries before stay).
    std::string Damage;
    // The end record misplaces the directory, but entries' offsets are right as stored
    // (for all of them: nothing was put in front, and End.shift is then 0).
    bool DirectoryOffsetWrong = false;
    // The ZIP64 end records cannot be true (Damage says so): Entries are those the local
    // headers hold, as WalkLocalHeaders finds them, the complete ones.
    bool FromLocalHeaders = false;
};

// The archive's central directory; nullopt when no end record leads to one.
std::optional<CentralDirectory> ReadCentralDirectory(ByteSource &source);
// Entries `indices` (ascending) of the directory ReadCentralDirectory read, read again
// by position: for a reader that let go of the others.
std::vector<CentralEntry> ReadCentralEntries(ByteSource &source, const CentralDirectory &directory,
                                             const std::vector<std::size_t> &indices);

struct LocalHeader {
    std::uint64_t Offset = 0; // of the signature
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint32_t DosDateTime = 0;
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0; // ZIP64 extra applied where the header is saturated
    std::uint64_t UncompressedSize = 0;
    std::string Name;
    std::string Extra;
    std::uint64_t DataStart = 0;
};

// The local header at offset; nullopt when there is none or it runs past the file.
std::optional<LocalHeader> ReadLocalHeader(ByteSource &source, std::uint64_t offset);

// The body of the extra field `id` (nullopt when absent or cut short).
std::optional<std::string_view> FindExtraField(std::string_view extra, std::uint16_t id);

// A stored name with what its header says about reading it.
struct StoredName {
    std::string_view Bytes;
    std::string_view Extra;
    std::uint16_t Flags = 0;
    std::optional<std::uint16_t> VersionMadeBy; // nullopt: no central directory tells
};

// How the name rule reads a stored name.
enum class NameKind {
    UnicodePath,   // an Info-ZIP Unicode Path field whose CRC matches the stored name
    Utf8,          // valid UTF-8, flagged or not (many tools leave the flag out)
    FlaggedBroken, // flagged UTF-8, but not: each bad byte becomes \xHH, separators "/"
    LegacyOem,     // made on MS-DOS, Windows or an unknown host: the OEM code page
    LegacyOther,   // made on a Unix-like host: code page 437
};
NameKind KindOfName(const StoredName &name);
inline StoredName StoredNameOf(const CentralEntry &entry)
{
    return {entry.Name(), entry.Extra(), entry.Flags, entry.VersionMadeBy};
}

// The name rule for the names of one archive, one for display and disk. The legacy
// code page is chosen once for all the archive's legacy names (NameChooser), so that
// the listing shows what extraction writes. Names are always valid UTF-8.
class NameDecoding {
public:
    // No archive context: legacy names read in the OEM code page of the user's language.
    NameDecoding();
    std::string Name(const StoredName &name, NameKind *kind = nullptr) const;
    std::string Name(const CentralEntry &entry) const { return Name(StoredNameOf(entry)); }
    // The stored bytes, where they read as they stand (most names): no copy is made.
    static std::optional<std::string_view> AsStored(const CentralEntry &entry);
    // "UTF-8" when the archive holds no legacy name, else the code page they are read in.
    const std::string &Encoding() const { return encoding_; }

private:
    friend class NameChooser;
    LegacyDecoder oem_;   // MS-DOS, Windows and unknown hosts; every legacy name when overridden
    LegacyDecoder other_; // Unix-like hosts
    std::string encoding_;
};

// Gathers an archive's names and chooses how its legacy names read: in the encoding the
// user named, or else in the OEM code page of the user's language; when that reading
// is implausible (a byte it cannot read, control characters, runs of box-drawing
// characters) and another code page of pellux_code_pages reads every name cleanly, the
// cleanest of those. The names' bytes must outlive Choose().
class NameChooser {
public:
    // `encoding` is an iconv name, or empty for the automatic choice.
    explicit NameChooser(std::string_view encoding = {}) : override_(encoding) {}
    void Add(const StoredName &name);
    void Add(const CentralEntry &entry) { Add(StoredNameOf(entry)); }
    NameDecoding Choose() const;

private:
    std::string override_;
    std::vector<std::string_view> oem_; // the legacy names the choice is made over
    bool anyLegacy_ = false;
};

// The NameDecoding of all entries of a range; `central` projects an element on its
// CentralEntry (e.g. &ArchiveEntry::Central).
template <class Range, class Projection = std::identity>
NameDecoding ChooseNameDecoding(const Range &entries, std::string_view encoding, Projection central = {})
{
    NameChooser chooser(encoding);
    for (const auto &entry : entries)
        chooser.Add(static_cast<const CentralEntry &>(std::invoke(central, entry)));
    return chooser.Choose();
}

// The name rule without archive context, for callers that hold a single name: the
// Unicode Path field, else valid UTF-8, else the user's OEM code page.
std::string EntryName(std::string_view stored, std::string_view extra);

// A compression method's usual name ("deflate", "bzip2"), or "unknown".
std::string CompressionMethodName(std::uint16_t method);

// Names for a message: the first few, then how many more.
std::string NameList(const std::vector<std::string> &names);

// The name with control characters as \xHH and bidirectional formatting characters
// as \uHHHH, so it shows what it is; `changed` tells whether any were there.
std::string VisibleName(std::string_view utf8, bool *changed = nullptr);
// False when the name may hold such characters; a true answer means VisibleName
// returns it unchanged.
bool IsPlainName(std::string_view utf8);
// VisibleName for bytes that need not be UTF-8 (a message, a path the user typed): each
// byte that starts no valid sequence shows as \xHH.
std::string VisibleText(std::string_view bytes);

// The entries of the central directory whose local headers agree with it, and what
// does not. Differences are worded for the user, naming the entries.
struct ArchiveCheck {
    std::vector<std::optional<LocalHeader>> Locals; // by central index; Name left empty
    std::vector<bool> Refused;                      // by central index: header missing or disagreeing
    std::vector<std::string> EntryProblems;         // one per refused entry, naming it
    std::vector<std::string> ProblemSummary;        // the same, one line per kind of problem
    std::vector<std::string> RefusedBecause;        // by central index: the reason alone, empty if not refused
    // Entries whose data overlap or share a local header: nothing of the archive may
    // be written (a zip bomb quotes one entry's data in many).
    std::vector<std::string> Overlaps;
    std::vector<std::string> Notes; // everything else worth a warning
    bool Overlapping() const { return !Overlaps.empty(); }
};

// Whole fills every field; Verdicts leaves Locals and RefusedBecause empty, for a
// reader that only lists (a million local headers need not stay in memory).
enum class CheckDetail { Whole, Verdicts };
// Reads every entry's local header and holds it against the directory. Names in the
// texts read as `names` says; without it, as the automatic choice for the directory.
ArchiveCheck CheckArchive(ByteSource &source, const CentralDirectory &directory,
                          CheckDetail detail = CheckDetail::Whole, const NameDecoding *names = nullptr);

// The data range of central entry `index`: from its data start, CompressedSize bytes.
inline std::uint64_t DataEnd(const LocalHeader &local, const CentralEntry &central)
{
    return local.DataStart + central.CompressedSize;
}

// What a data descriptor holds (APPNOTE 4.3.9): the CRC and sizes of a streamed entry.
struct DataDescriptor {
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint64_t End = 0; // the first byte after it
};

// The descriptor at `at`, right after `compressedSize` bytes of data: with or without its
// signature, 32- or 64-bit sizes, whichever states that size. Without a match, the form
// its signature suggests (the stated values then are what the writer put there).
std::optional<DataDescriptor> ReadDataDescriptor(ByteSource &source, std::uint64_t at, std::uint64_t compressedSize);

// The descriptor of a streamed entry whose local header gives no sizes: the first place
// after its data start where a descriptor states the compressed size that leads to it.
std::optional<DataDescriptor> FindDataDescriptor(ByteSource &source, const LocalHeader &local);

// An entry found by walking the local headers from the front.
struct WalkedEntry {
    LocalHeader Local;
    std::uint32_t Crc32 = 0; // from the header, its data descriptor or the directory
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    bool Complete = false; // its data lies wholly inside the file
    std::string Damage;    // else why not, for the user
};

struct LocalWalk {
    std::vector<WalkedEntry> Entries;
    // Empty when the walk ran into the central directory or the end of the file, or
    // stopped at an entry whose data is incomplete; else where it stopped, for the user.
    std::string Stopped;
};

// What an archive whose central directory is missing or damaged still holds: header
// after header from the first plausible local header. The entries of `known` (a
// directory read in part) give the sizes of streamed entries at their offsets.
LocalWalk WalkLocalHeaders(ByteSource &source, const CentralDirectory *known = nullptr);

// The directory entry a walked entry stands for: its local header's fields, with the
// CRC and sizes the walk found.
CentralEntry CentralOf(const WalkedEntry &walked);

} // namespace pellux
