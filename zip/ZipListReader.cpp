#include "zip/ZipListReader.h"

#include "platform/Exceptions.h"
#include "util/ExtractionPlan.h"
#include "util/LittleEndian.h"
#include "util/NameCodec.h"
#include "util/ZipRecords.h"
#include "util/ZipSignatures.h"

#include <algorithm>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <optional>

namespace pellux {

namespace {

[[noreturn]] void Fail(const char *text) { throw EStreamError(text); }

// Finds the first local header signature; every byte is a candidate, so "P" followed
// by "PK" 03 04 is found at the second "P".
std::optional<std::int64_t> FindFirstLocalHeader(InputStream &stream)
{
    static constexpr unsigned char kSig[4] = {'P', 'K', 3, 4};
    unsigned char window[4];
    for (std::int64_t candidate = 0; candidate < kSignatureCandidateLimit; ++candidate) {
        if (stream.SeekTo(candidate) != candidate)
            return std::nullopt;
        const std::size_t got = stream.Read(window, sizeof window);
        if (got == 0)
            return std::nullopt;
        std::size_t matched = 0;
        while (matched < got && window[matched] == kSig[matched])
            ++matched;
        if (matched == 4)
            return candidate;
        if (matched == got)
            return std::nullopt; // the file ends inside a partial signature
    }
    return std::nullopt;
}

// The reader's stream seen by position, for the record reader shared with the libraries.
class StreamSource final : public ByteSource {
public:
    explicit StreamSource(InputStream &stream) : stream_(stream) {}
    std::uint64_t Size() const override
    {
        return static_cast<std::uint64_t>(std::max<std::int64_t>(0, stream_.Size()));
    }
    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) override
    {
        const auto at = static_cast<std::int64_t>(offset);
        return at >= 0 && stream_.SeekTo(at) == at && stream_.Read(buffer, length) == length;
    }

private:
    InputStream &stream_;
};

bool ReadSignature(InputStream &stream, std::uint32_t &signature)
{
    unsigned char bytes[4];
    if (stream.Read(bytes, 4) != 4)
        return false;
    signature = le::U32(bytes);
    return true;
}

// The ZIP64 extra field of a local header (APPNOTE 4.5.3) carries both sizes, the
// uncompressed first.
std::optional<std::pair<std::uint64_t, std::uint64_t>> Zip64Sizes(std::string_view extra)
{
    const auto field = FindExtraField(extra, kExtraZip64);
    if (!field || field->size() < 16)
        return std::nullopt;
    const auto *p = reinterpret_cast<const unsigned char *>(field->data());
    return std::pair{le::U64(p), le::U64(p + 8)};
}

// Returns the pages of freed small blocks to the system, where the allocator can.
void GiveBackFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// What the walk needs of a directory entry. The rest of the directory is let go of
// before the walk: a million entries need not be held twice.
struct CentralSummary {
    std::uint64_t LocalOffset = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t Crc32 = 0;
    std::uint16_t Flags = 0;
    std::uint16_t VersionMadeBy = 0;
};

// The central directory's entries by where their local headers really lie, sorted; of
// entries sharing a header, the first in the directory stands first. Most writers keep
// the directory in file order: then it serves as its own table.
class CentralByOffset {
public:
    // Keeps of the entries what the walk needs, and of their extra fields only the
    // Unicode Path fields: only those change how a name reads.
    void Index(CentralDirectory &directory)
    {
        std::vector<CentralEntry> &entries = directory.Entries;
        // Names and extra fields go first, the table after: the two are never held
        // at once.
        for (std::size_t i = 0; i < entries.size(); ++i) {
            CentralEntry &c = entries[i];
            if (const auto field = FindExtraField(c.Extra(), kExtraUnicodePath)) {
                std::string extra(4, '\0');
                extra[0] = static_cast<char>(kExtraUnicodePath & 0xFF);
                extra[1] = static_cast<char>(kExtraUnicodePath >> 8);
                extra[2] = static_cast<char>(field->size() & 0xFF);
                extra[3] = static_cast<char>(field->size() >> 8);
                extras_.emplace_back(i, extra.append(*field));
            }
            c.ReleaseNameAndExtra();
        }
        directory.NameBytes.Clear();
        // The names freed lie among other memory: given back, they make room for the
        // table instead of adding to it.
        GiveBackFreedMemory();
        entries_.clear();
        entries_.reserve(entries.size());
        for (const CentralEntry &c : entries)
            entries_.push_back(
                {c.LocalOffset, c.CompressedSize, c.UncompressedSize, c.Crc32, c.Flags, c.VersionMadeBy});
        walked_.assign(entries.size(), false);
        const auto byOffset = [](const CentralSummary &a, const CentralSummary &b) {
            return static_cast<std::int64_t>(a.LocalOffset) < static_cast<std::int64_t>(b.LocalOffset);
        };
        if (std::is_sorted(entries_.begin(), entries_.end(), byOffset))
            return;
        order_.resize(entries_.size());
        for (std::size_t i = 0; i < entries_.size(); ++i)
            order_[i] = i;
        std::stable_sort(order_.begin(), order_.end(),
                         [&](std::size_t a, std::size_t b) { return byOffset(entries_[a], entries_[b]); });
    }
    bool Empty() const { return Count() == 0; }
    std::size_t Size() const { return Count(); }
    const CentralSummary *Find(std::int64_t offset) const
    {
        const std::size_t k = LowerBound(offset);
        return k < Count() && OffsetAt(k) == offset ? &At(k) : nullptr;
    }
    // The directory index of an entry Find returned.
    std::size_t IndexOf(const CentralSummary *entry) const { return static_cast<std::size_t>(entry - entries_.data()); }
    // The Unicode Path field of an entry Find returned, or nothing.
    std::string_view NameExtra(const CentralSummary *entry) const
    {
        const std::size_t index = IndexOf(entry);
        const auto at = std::lower_bound(extras_.begin(), extras_.end(), index,
                                         [](const auto &a, std::size_t i) { return a.first < i; });
        return at != extras_.end() && at->first == index ? std::string_view(at->second) : std::string_view();
    }
    // Marks the directory's entries whose header lies at `offset` as walked.
    void Release(std::int64_t offset)
    {
        for (std::size_t k = LowerBound(offset); k < Count() && OffsetAt(k) == offset; ++k)
            walked_[order_.empty() ? k : order_[k]] = true;
    }
    // Whether the walk read the header of directory entry `index`.
    bool Walked(std::size_t index) const { return index < walked_.size() && walked_[index]; }
    // The first known header after `offset`.
    std::optional<std::int64_t> NextAfter(std::int64_t offset) const
    {
        const std::size_t k = LowerBound(offset + 1);
        return k == Count() ? std::nullopt : std::optional<std::int64_t>(OffsetAt(k));
    }

private:
    std::size_t Count() const { return entries_.size(); }
    const CentralSummary &At(std::size_t k) const { return entries_[order_.empty() ? k : order_[k]]; }
    std::int64_t OffsetAt(std::size_t k) const { return static_cast<std::int64_t>(At(k).LocalOffset); }
    // The walk asks in file order: the answer is mostly the last one or the next.
    bool IsLowerBound(std::size_t k, std::int64_t offset) const
    {
        return k <= Count() && (k == Count() || OffsetAt(k) >= offset) && (k == 0 || OffsetAt(k - 1) < offset);
    }
    std::size_t LowerBound(std::int64_t offset) const
    {
        for (const std::size_t k : {hint_, hint_ + 1})
            if (IsLowerBound(k, offset))
                return hint_ = k;
        hint_ = Search(offset);
        return hint_;
    }
    std::size_t Search(std::int64_t offset) const
    {
        std::size_t low = 0, high = Count();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (OffsetAt(mid) < offset)
                low = mid + 1;
            else
                high = mid;
        }
        return low;
    }
    std::vector<CentralSummary> entries_;                     // by directory index
    std::vector<std::pair<std::size_t, std::string>> extras_; // by ascending directory index
    std::vector<std::size_t> order_;                          // empty when the directory is in file order
    std::vector<bool> walked_;                                // by directory index
    mutable std::size_t hint_ = 0;
};

class EntryWalker {
public:
    // `names` reads the names as the directory's entries chose; null when there is no
    // directory: the walked names choose once the walk is over (FinishNames).
    EntryWalker(InputStream &stream, ZipEntryList &entries, CentralByOffset &central, std::vector<bool> &listed,
                const NameDecoding *names)
        : stream_(stream), entries_(entries), central_(central), listed_(listed), names_(names)
    {
    }

    // Reads the legacy names left for after the walk; returns how names were read.
    std::string FinishNames(std::string_view nameEncoding)
    {
        if (names_)
            return names_->Encoding();
        NameChooser chooser(nameEncoding);
        for (const std::size_t i : pending_)
            chooser.Add(PendingName(entries_[i]));
        const NameDecoding names = chooser.Choose();
        for (const std::size_t i : pending_)
            entries_.SetName(i, names.Name(PendingName(entries_[i])));
        pending_.clear();
        return names.Encoding();
    }

    // Names flagged UTF-8 whose bytes are not, as shown.
    const std::vector<std::string> &BrokenNames() const { return broken_; }

    void Walk(std::int64_t firstHeader)
    {
        stream_.SeekTo(firstHeader + 4);
        std::uint32_t signature = sig::kLocalHeader;
        for (;;) {
            if (signature == sig::kLocalHeader) {
                ReadEntry();
                if (!ReadSignature(stream_, signature))
                    Fail("Error reading Zip File");
            } else if (signature == sig::kCentralHeader || signature == sig::kEndOfCentralDir) {
                return;
            } else {
                // Unknown words between entries are stepped over four bytes at a time;
                // the directory, when there is one, says where the next entry starts.
                const std::optional<std::int64_t> next = central_.NextAfter(stream_.Position() - 4);
                if (next && stream_.Position() >= *next) {
                    stream_.SeekTo(*next);
                    if (!ReadSignature(stream_, signature))
                        Fail("Error reading Zip File");
                } else if (!ReadSignature(stream_, signature)) {
                    if (central_.Empty())
                        Fail("Error reading Zip File");
                    return; // past the last entry the directory knows
                }
            }
        }
    }

private:
    void ReadEntry()
    {
        const std::int64_t headerOffset = stream_.Position() - 4;
        unsigned char fixed[ZipDirEntry::kFixedSize];
        if (stream_.Read(fixed, sizeof fixed) != sizeof fixed)
            Fail("Error 2 reading Zip file");
        ZipDirEntry entry;
        entry.DecodeFixed(fixed);
        entry.HeaderOffset = headerOffset;
        name_.resize(entry.FileNameLength);
        if (stream_.Read(name_.data(), name_.size()) != name_.size())
            Fail("Error 2 reading Zip file");
        ZipDirEntry &e = entries_.Append(entry, name_);
        const std::size_t index = entries_.size() - 1;

        const std::int64_t afterName = stream_.Position();
        std::string extra(e.ExtraFieldLength, '\0');
        const bool extraRead = stream_.Read(extra.data(), extra.size()) == extra.size();
        stream_.SeekTo(afterName);
        const CentralSummary *central = central_.Find(headerOffset);
        listed_.push_back(central != nullptr);
        const std::string_view nameExtra = central ? central_.NameExtra(central) : std::string_view(extra);
        // Most names are plain UTF-8 without a Unicode Path field: the name is the stored one.
        const bool storedIsName = !FindExtraField(nameExtra, kExtraUnicodePath) && IsValidUtf8(e.FileName());
        if (!storedIsName) {
            // The directory's flags and host, as extraction reads them.
            const StoredName stored{e.FileName(), nameExtra, central ? central->Flags : e.GeneralPurposeFlag,
                                    central ? std::optional<std::uint16_t>(central->VersionMadeBy) : std::nullopt};
            NameKind kind = KindOfName(stored);
            if (!names_ && (kind == NameKind::LegacyOem || kind == NameKind::LegacyOther)) {
                pending_.push_back(index);
            } else if (std::string name = names_ ? names_->Name(stored, &kind) : NameDecoding().Name(stored, &kind);
                       name != e.FileName()) {
                if (kind == NameKind::FlaggedBroken)
                    broken_.push_back(VisibleName(name));
                entries_.SetName(index, name);
            }
        }
        if (central)
            central_.Release(headerOffset);

        std::uint64_t dataSize = e.CompressedSize;
        bool zip64 = false;
        if (extraRead && (e.CompressedSize == 0xFFFFFFFFu || e.UncompressedSize == 0xFFFFFFFFu)) {
            if (const auto sizes = Zip64Sizes(extra)) {
                e.UncompressedSize = sizes->first;
                dataSize = sizes->second;
                zip64 = true;
            }
        }
        const bool hasDescriptor = (e.GeneralPurposeFlag & kFlagDataDescriptor) != 0;
        if (central && (hasDescriptor || zip64 || e.CompressedSize == 0xFFFFFFFFu)) {
            // The directory knows what a streamed or ZIP64 header leaves out.
            e.Crc32 = central->Crc32;
            e.CompressedSize = central->CompressedSize;
            e.UncompressedSize = central->UncompressedSize;
            dataSize = central->CompressedSize;
            zip64 = zip64 || dataSize >= 0xFFFFFFFFu || e.UncompressedSize >= 0xFFFFFFFFu;
        } else if (hasDescriptor && dataSize == 0) {
            // Streamed: zero sizes, or a ZIP64 field of zeros (the descriptor is then 64-bit).
            e.CompressedSize = 0;
            ResolveFromDescriptor(e, afterName + e.ExtraFieldLength, dataSize, zip64);
        } else if (zip64) {
            e.CompressedSize = dataSize;
        }

        // The entry's extra field and data must leave room for an end record.
        if (afterName + e.ExtraFieldLength + static_cast<std::int64_t>(dataSize)
            > stream_.Size() - static_cast<std::int64_t>(sig::kEndOfCentralDirSize))
            Fail("Error 3 reading Zip file");
        if (e.ExtraFieldLength > 0 && stream_.SeekBy(e.ExtraFieldLength) != afterName + e.ExtraFieldLength)
            Fail("Error 4 reading Zip file");
        const std::int64_t dataStart = stream_.Position();
        const std::int64_t dataEnd = dataStart + static_cast<std::int64_t>(dataSize);
        if (stream_.SeekTo(dataEnd) != dataEnd)
            Fail("Error 5 reading Zip file");
        if (hasDescriptor)
            SkipDescriptor(e, zip64);
    }

    // Neither the header nor a directory knows the sizes: the data descriptor after the
    // data tells them.
    void ResolveFromDescriptor(ZipDirEntry &e, std::int64_t dataStart, std::uint64_t &dataSize, bool &zip64)
    {
        StreamSource source(stream_);
        LocalHeader local;
        local.DataStart = static_cast<std::uint64_t>(dataStart);
        const std::optional<DataDescriptor> sizes = FindDataDescriptor(source, local);
        stream_.SeekTo(dataStart - e.ExtraFieldLength);
        if (!sizes)
            return; // nothing better known: the walk steps through the data
        e.Crc32 = sizes->Crc32;
        e.CompressedSize = sizes->CompressedSize;
        e.UncompressedSize = sizes->UncompressedSize;
        dataSize = sizes->CompressedSize;
        zip64 = zip64 || sizes->CompressedSize >= 0xFFFFFFFFu || sizes->UncompressedSize >= 0xFFFFFFFFu;
    }

    // Steps over a data descriptor (APPNOTE 4.3.9): an optional "PK" 07 08, the CRC
    // and both sizes (8 bytes each for ZIP64). Anything else is left to the walk.
    void SkipDescriptor(const ZipDirEntry &e, bool zip64)
    {
        const std::int64_t at = stream_.Position();
        unsigned char d[16];
        const std::size_t got = stream_.Read(d, sizeof d);
        stream_.SeekTo(at);
        if (got < 4)
            return;
        const std::int64_t body = zip64 ? 20 : 12;
        const bool sizeMatches =
            zip64 ? got >= 12 && le::U64(d + 4) == e.CompressedSize : got >= 8 && le::U32(d + 4) == e.CompressedSize;
        if (le::U32(d) == sig::kDataDescriptor)
            stream_.SeekTo(at + 4 + body);
        else if (le::U32(d) == e.Crc32 && sizeMatches)
            stream_.SeekTo(at + body);
    }

    // A legacy name left for later: its local header's flags, no host known.
    static StoredName PendingName(const ZipDirEntry &e)
    {
        return {e.FileName(), {}, e.GeneralPurposeFlag, std::nullopt};
    }

    InputStream &stream_;
    ZipEntryList &entries_;
    CentralByOffset &central_;
    std::vector<bool> &listed_; // by walked entry: whether the directory holds it
    const NameDecoding *names_;
    std::vector<std::size_t> pending_; // entries whose legacy names wait for the choice
    std::string name_;                 // the name being read, its memory kept
    std::vector<std::string> broken_;
};

// What the walk shows against what the directory holds: entries only one of them knows,
// and names that would not show as what they are.
void CompareWithDirectory(ByteSource &source, const ZipEntryList &entries, const std::vector<bool> &listed,
                          const std::optional<CentralDirectory> &directory, const CentralByOffset &central,
                          const ArchiveCheck &check, const NameDecoding &names, ListReport &report)
{
    // Entries before the walk's (a caller's own) were not looked up by it.
    const std::size_t firstWalked = entries.size() - listed.size();
    std::size_t index = 0;
    std::vector<std::string> unlisted, hidden, disguised;
    for (const auto &e : entries) {
        // Only names that hold such characters, or are named below, are made visible.
        const bool plain = IsPlainName(e.Name());
        const std::size_t i = index++;
        const bool isUnlisted =
            directory && (i >= firstWalked ? !listed[i - firstWalked] : !central.Find(e.HeaderOffset));
        if (plain && !isUnlisted)
            continue;
        bool changed = false;
        const std::string visible = VisibleName(e.Name(), &changed);
        if (changed)
            disguised.push_back(visible);
        if (isUnlisted)
            unlisted.push_back(visible);
    }
    if (directory) {
        std::vector<std::size_t> missed;
        for (std::size_t i = 0; i < central.Size(); ++i)
            if (!check.Refused[i] && !central.Walked(i))
                missed.push_back(i);
        for (const CentralEntry &c : ReadCentralEntries(source, *directory, missed))
            hidden.push_back(VisibleName(names.Name(c)));
    } else if (!entries.empty()) {
        report.Warnings.push_back("the archive has no central directory: it is damaged or cut short");
        report.Damaged = true;
    }
    report.Damaged = report.Damaged || !unlisted.empty() || !hidden.empty();
    if (!unlisted.empty())
        report.Warnings.push_back("not in the central directory, so not extracted: " + NameList(unlisted));
    if (!hidden.empty())
        report.Warnings.push_back("in the central directory but not in the listing: " + NameList(hidden));
    if (!disguised.empty())
        report.Warnings.push_back("names with control or direction characters: " + NameList(disguised));
}

// Why the check refuses entries, by central index (ascending); read before the walk
// lets go of the directory's names. The check's problems name the refused in order.
std::vector<std::pair<std::size_t, std::string>> RefusalReasons(const CentralDirectory &directory,
                                                                const ArchiveCheck &check, const NameDecoding &names)
{
    std::vector<std::pair<std::size_t, std::string>> refusals;
    for (std::size_t i = 0, k = 0; i < check.Refused.size() && k < check.EntryProblems.size(); ++i) {
        if (!check.Refused[i])
            continue;
        const std::string &problem = check.EntryProblems[k++];
        const std::string prefix = VisibleName(names.Name(directory.Entries[i])) + ": ";
        refusals.emplace_back(
            i, "Not extracted: " + (problem.starts_with(prefix) ? problem.substr(prefix.size()) : problem));
    }
    return refusals;
}

// The walked entries that extraction will refuse or write otherwise than shown, with
// why: the forecast's entries, those the check refuses and those not in the directory.
void MarkEntries(const ZipEntryList &entries, const std::vector<bool> &listed, const CentralByOffset &central,
                 const std::vector<std::pair<std::size_t, std::string>> &refusals, const ExtractionForecast &forecast,
                 ListReport &report)
{
    const std::size_t firstWalked = entries.size() - listed.size();
    for (std::size_t w = 0; w < listed.size(); ++w) {
        const std::size_t at = firstWalked + w;
        if (!listed[w]) {
            report.EntryWarnings.push_back({at, "Not extracted: it is not in the central directory"});
            continue;
        }
        const CentralSummary *c = central.Find(entries[at].HeaderOffset);
        if (!c)
            continue;
        const std::size_t index = central.IndexOf(c);
        const auto byIndex = [](const auto &a, std::size_t i) { return a.Index < i; };
        const auto f = std::lower_bound(forecast.Entries.begin(), forecast.Entries.end(), index, byIndex);
        if (f != forecast.Entries.end() && f->Index == index) {
            report.EntryWarnings.push_back({at, f->Why});
            continue;
        }
        const auto r = std::lower_bound(refusals.begin(), refusals.end(), index,
                                        [](const auto &a, std::size_t i) { return a.first < i; });
        if (r != refusals.end() && r->first == index)
            report.EntryWarnings.push_back({at, r->second});
    }
}

// Without a directory extraction recovers the entries from their local headers, by
// the names the walk read: the forecast is made over those.
void ForecastRecovered(ByteSource &source, const ZipEntryList &entries, std::size_t firstWalked, ListReport &report)
{
    CentralDirectory recovered;
    for (std::size_t i = firstWalked; i < entries.size(); ++i) {
        CentralEntry c;
        c.SetName(entries[i].Name()); // already read: UTF-8, read as it stands
        c.Flags = static_cast<std::uint16_t>(entries[i].GeneralPurposeFlag | kFlagUtf8);
        c.Method = entries[i].CompressionMethod;
        c.LocalOffset = c.StatedOffset = static_cast<std::uint64_t>(entries[i].HeaderOffset);
        recovered.Entries.push_back(std::move(c));
    }
    ExtractionForecast forecast = ForecastExtraction(source, recovered, {}, NameDecoding());
    report.Warnings.insert(report.Warnings.end(), forecast.Warnings.begin(), forecast.Warnings.end());
    for (auto &f : forecast.Entries)
        report.EntryWarnings.push_back({firstWalked + f.Index, std::move(f.Why)});
}

} // namespace

ListOutcome ReadEntryList(InputStream &stream, ZipEntryList &entries, ListReport *report, std::string_view nameEncoding)
{
    ListReport ownReport;
    ListReport &r = report ? *report : ownReport;
    StreamSource source(stream);
    std::optional<CentralDirectory> directory = ReadCentralDirectory(source);
    ArchiveCheck check;
    ExtractionForecast forecast;
    std::vector<std::pair<std::size_t, std::string>> refusals;
    CentralByOffset central;
    std::optional<std::int64_t> lowest;
    // Extraction chooses the code page over the directory's names: so does the listing.
    std::optional<NameDecoding> names;
    if (directory) {
        names = ChooseNameDecoding(directory->Entries, nameEncoding);
        check = CheckArchive(source, *directory, CheckDetail::Verdicts, &*names);
        for (const auto *list : {&check.Overlaps, &check.ProblemSummary, &check.Notes})
            r.Warnings.insert(r.Warnings.end(), list->begin(), list->end());
        r.Damaged = check.Overlapping() || !check.ProblemSummary.empty() || !directory->Damage.empty();
        forecast = ForecastExtraction(source, *directory, check.Refused, *names);
        refusals = RefusalReasons(*directory, check, *names);
        r.Warnings.insert(r.Warnings.end(), forecast.Warnings.begin(), forecast.Warnings.end());
        for (std::size_t i = 0; i < directory->Entries.size(); ++i) {
            const auto offset = static_cast<std::int64_t>(directory->Entries[i].LocalOffset);
            if (!check.Refused[i] && (!lowest || offset < *lowest))
                lowest = offset;
        }
        central.Index(*directory);
        // The walk needs no more of the directory than `central` keeps; the few names it
        // may yet need are read again (CompareWithDirectory).
        std::vector<CentralEntry>().swap(directory->Entries);
    }

    std::optional<std::int64_t> first = FindFirstLocalHeader(stream);
    // A stub's stray signature or an archive glued in front is none of the directory's
    // entries: the walk starts where extraction finds the first entry.
    if (lowest && (!first || !central.Find(*first))) {
        if (first)
            r.Warnings.push_back("the data before the archive holds other local headers: listed from offset "
                                 + std::to_string(*lowest) + ", where its entries begin");
        first = lowest;
    }
    if (!first) {
        r.EmptyArchive = directory && central.Empty() && directory->Damage.empty();
        return ListOutcome::NoEntries;
    }
    if (directory)
        entries.reserve(entries.size() + central.Size());
    for (const auto &e : entries)
        central.Release(e.HeaderOffset); // a caller's own entries count as walked
    std::vector<bool> listed;
    EntryWalker walker(stream, entries, central, listed, names ? &*names : nullptr);
    try {
        walker.Walk(*first);
    } catch (...) {
        r.NameEncoding = walker.FinishNames(nameEncoding); // the entries read so far stay, named
        if (!directory)
            ForecastRecovered(source, entries, entries.size() - listed.size(), r);
        throw;
    }
    r.NameEncoding = walker.FinishNames(nameEncoding);
    CompareWithDirectory(source, entries, listed, directory, central, check, names ? *names : NameDecoding(), r);
    if (directory)
        MarkEntries(entries, listed, central, refusals, forecast, r);
    else
        ForecastRecovered(source, entries, entries.size() - listed.size(), r);
    if (!walker.BrokenNames().empty())
        r.Warnings.push_back("names flagged as UTF-8 that are not (bad bytes shown as \\xHH): "
                             + NameList(walker.BrokenNames()));
    return ListOutcome::Complete;
}

} // namespace pellux
