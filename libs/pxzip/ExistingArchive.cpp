#include "libs/pxzip/ExistingArchive.h"

#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"
#include "util/ArchiveFile.h"
#include "util/LittleEndian.h"
#include "util/ZipRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>

namespace pellux::libs {

namespace {

constexpr std::size_t kCentralFixed = 46;

// Reading every local header costs a system call or two each; with one block read
// ahead, the headers of small entries come many to a call.
class ReadAheadSource final : public ByteSource {
public:
    explicit ReadAheadSource(int fd) : file_(fd), fd_(fd) {}
    std::uint64_t Size() const override { return file_.Size(); }
    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) override
    {
        if (length > kBlock / 2)
            return file_.ReadAt(offset, buffer, length);
        if (offset < start_ || offset + length > start_ + block_.size()) {
            block_.resize(kBlock);
            ssize_t n;
            do
                n = ::pread(fd_, block_.data(), block_.size(), static_cast<off_t>(offset));
            while (n < 0 && errno == EINTR);
            block_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            start_ = offset;
            if (length > block_.size())
                return false;
        }
        std::memcpy(buffer, block_.data() + (offset - start_), length);
        return true;
    }

private:
    static constexpr std::size_t kBlock = 64 << 10;
    FileByteSource file_;
    int fd_;
    std::vector<char> block_;
    std::uint64_t start_ = 0;
};

// Whether WithoutExtraField(extra, id) would take anything out.
bool HoldsField(std::string_view extra, std::uint16_t id)
{
    const auto *p = reinterpret_cast<const unsigned char *>(extra.data());
    for (std::size_t i = 0; i + 4 <= extra.size(); i += 4 + le::U16(p + i + 2)) {
        if (le::U16(p + i) == id)
            return true;
    }
    return false;
}

// Where our reader finds no archive, libzip's verdict is given, in the words users know.
bool LibzipRefuses(const std::string &path, bool mayBeMissing, Reporter &reporter)
{
    int error = 0;
    zip_t *check = zip_open(path.c_str(), mayBeMissing ? ZIP_CREATE : 0, &error);
    if (!check) {
        reporter.Error(kPxArchiveError, path + ": " + ErrorText(error));
        return true;
    }
    zip_discard(check);
    return false;
}

} // namespace

// The old archive's cached pages are of no use once copied, and the new archive replaces
// it: left in the cache, they are all freed when the old file goes, on the command's
// time. Dropped behind the copy, on another core, that work is done while the copy runs.
class ExistingArchive::CacheRelease {
public:
    explicit CacheRelease(int fd) : fd_(fd), worker_([this] { Run(); }) {}
    ~CacheRelease()
    {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }
    CacheRelease(const CacheRelease &) = delete;
    CacheRelease &operator=(const CacheRelease &) = delete;

    // Bytes [offset, offset + length) were copied.
    void Copied(std::uint64_t offset, std::uint64_t length)
    {
        bool ready;
        {
            const std::lock_guard lock(mutex_);
            if (offset != pendingEnd_) {
                ranges_.emplace_back(pendingStart_, pendingEnd_);
                pendingStart_ = offset;
            }
            pendingEnd_ = offset + length;
            ready = pendingEnd_ - pendingStart_ >= kStep;
            if (ready) {
                ranges_.emplace_back(pendingStart_, pendingEnd_);
                pendingStart_ = pendingEnd_;
            }
        }
        if (ready)
            wake_.notify_one();
    }

private:
    static constexpr std::uint64_t kStep = 4 << 20;

    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return done_ || !ranges_.empty(); });
            if (done_)
                return; // what is left goes with the file
            const auto ranges = std::move(ranges_);
            ranges_.clear();
            lock.unlock();
            for (const auto &[from, to] : ranges) {
                if (to > from)
                    ::posix_fadvise(fd_, static_cast<off_t>(from), static_cast<off_t>(to - from), POSIX_FADV_DONTNEED);
            }
            lock.lock();
        }
    }

    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;
    std::uint64_t pendingStart_ = 0, pendingEnd_ = 0;
    bool done_ = false;
    std::thread worker_; // last: started once the rest is set
};

ExistingArchive::ExistingArchive() = default;

ExistingArchive::~ExistingArchive()
{
    release_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool ExistingArchive::Open(const std::string &path, bool mayBeMissing, Reporter &reporter)
{
    path_ = path;
    std::string why;
    fd_ = OpenArchiveFile(path, &why);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT && mayBeMissing)
            return true;
        // libzip would block on a FIFO as well.
        if (error == EINVAL || !LibzipRefuses(path, mayBeMissing, reporter))
            reporter.Error(kPxArchiveError, path + ": " + why);
        return false;
    }
    ReadAheadSource source(fd_);
    if (source.Size() == 0)
        return !LibzipRefuses(path, mayBeMissing, reporter);
    auto directory = ReadCentralDirectory(source);
    if (!directory || !directory->Damage.empty()) {
        if (!LibzipRefuses(path, mayBeMissing, reporter))
            reporter.Error(kPxArchiveError, path + ": " + (directory ? directory->Damage : ErrorText(ZIP_ER_NOZIP)));
        return false;
    }
    const ArchiveCheck checked = CheckArchive(source, *directory);
    if (checked.Overlapping() || !checked.EntryProblems.empty()) {
        const auto &problem = checked.Overlapping() ? checked.Overlaps.front() : checked.EntryProblems.front();
        reporter.Error(kPxArchiveError, "cannot change " + path + ": " + problem);
        return false;
    }
    // Comments and internal attributes are in the raw headers only.
    std::string raw(static_cast<std::size_t>(directory->End.directory_size), '\0');
    if (!source.ReadAt(directory->End.directory_start, raw.data(), raw.size())) {
        reporter.Error(kPxArchiveError, "cannot read " + path);
        return false;
    }
    const auto &entries = directory->Entries;
    records_.resize(entries.size());
    starts_.resize(entries.size());
    ends_.resize(entries.size());
    std::size_t p = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto *h = reinterpret_cast<const unsigned char *>(raw.data() + p);
        const std::size_t nameLength = le::U16(h + 28), extraLength = le::U16(h + 30), commentLength = le::U16(h + 32);
        const CentralEntry &e = entries[i];
        EntryRecord &r = records_[i];
        r.Name = e.Name();
        r.Extra =
            HoldsField(e.Extra(), kExtraZip64) ? WithoutExtraField(e.Extra(), kExtraZip64) : std::string(e.Extra());
        r.Comment = raw.substr(p + kCentralFixed + nameLength + extraLength, commentLength);
        r.VersionMadeBy = e.VersionMadeBy;
        r.VersionNeeded = e.VersionNeeded;
        r.Flags = e.Flags;
        r.Method = e.Method;
        r.DosDateTime = e.DosDateTime;
        r.Crc32 = e.Crc32;
        r.CompressedSize = e.CompressedSize;
        r.UncompressedSize = e.UncompressedSize;
        r.InternalAttributes = le::U16(h + 36);
        r.ExternalAttributes = e.ExternalAttributes;
        p += kCentralFixed + nameLength + extraLength + commentLength;

        const LocalHeader &local = *checked.Locals[i];
        starts_[i] = e.LocalOffset;
        ends_[i] = DataEnd(local, e);
        // A streamed entry's descriptor goes with it.
        if (e.Flags & kFlagDataDescriptor) {
            const auto descriptor = ReadDataDescriptor(source, ends_[i], e.CompressedSize);
            if (!descriptor) {
                reporter.Error(kPxArchiveError, "cannot read " + path + ": " + VisibleName(EntryName(r.Name, r.Extra)));
                return false;
            }
            ends_[i] = descriptor->End;
        }
    }
    directoryStart_ = directory->End.directory_start;
    comment_.resize(directory->End.comment_length);
    if (!comment_.empty() && !source.ReadAt(directory->End.end_pos + 22, comment_.data(), comment_.size()))
        comment_.clear();
    return true;
}

std::uint64_t ExistingArchive::UnheldBytes() const
{
    if (records_.empty())
        return 0;
    std::vector<std::size_t> order(records_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (!std::is_sorted(starts_.begin(), starts_.end()))
        std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) { return starts_[a] < starts_[b]; });
    std::uint64_t unheld = 0, at = starts_[order.front()];
    for (const std::size_t i : order) {
        if (starts_[i] > at)
            unheld += starts_[i] - at;
        at = std::max(at, ends_[i]);
    }
    return unheld + (directoryStart_ > at ? directoryStart_ - at : 0);
}

std::ptrdiff_t ExistingArchive::Find(const std::string &name) const
{
    // A delete's few names cost less one by one than an index of every name does.
    if (names_.empty() && ++lookups_ <= kLookupsWithoutIndex) {
        for (std::size_t i = 0; i < records_.size(); ++i) {
            if (records_[i].Name == name)
                return static_cast<std::ptrdiff_t>(i);
        }
        return -1;
    }
    if (names_.empty()) {
        names_.reserve(records_.size());
        for (std::size_t i = 0; i < records_.size(); ++i)
            names_.emplace(records_[i].Name, i); // the first of a name stays
    }
    const auto it = names_.find(name);
    return it == names_.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

bool ExistingArchive::HasTimestamp(std::size_t i) const
{
    const auto field = FindExtraField(records_[i].Extra, kExtraTimestamp);
    return field && field->size() >= 5 && ((*field)[0] & 1);
}

std::time_t ExistingArchive::Mtime(std::size_t i) const
{
    // Flags byte, then the modification time when bit 0 is set (seconds since 1970, UTC).
    if (HasTimestamp(i)) {
        const auto field = FindExtraField(records_[i].Extra, kExtraTimestamp);
        return static_cast<std::time_t>(le::U32(reinterpret_cast<const unsigned char *>(field->data() + 1)));
    }
    return FromDosDateTime(records_[i].DosDateTime);
}

template <typename Placed>
bool ExistingArchive::CopyRuns(std::size_t first, std::size_t count, OutputFile &out, Reporter &reporter,
                               Placed placed) const
{
    std::size_t i = first;
    const std::size_t end = first + count;
    while (i < end) {
        std::size_t last = i;
        while (last + 1 < end && ends_[last] == starts_[last + 1])
            ++last;
        for (std::size_t k = i; k <= last; ++k)
            placed(k, out.Position() + (starts_[k] - starts_[i]));
        if (!release_ && !releaseTried_) {
            releaseTried_ = true;
            try {
                release_ = std::make_unique<CacheRelease>(fd_);
            } catch (const std::exception &) {
                // No thread to spare: the pages then go with the old file.
            }
        }
        std::uint64_t at = starts_[i];
        if (!out.CopyFrom(fd_, at, ends_[last] - at, [&](std::uint64_t n) {
                if (release_)
                    release_->Copied(at, n);
                at += n;
                return reporter.Advance(n);
            }))
            return false;
        i = last + 1;
    }
    return true;
}

bool ExistingArchive::Copy(std::size_t first, std::size_t count, OutputFile &out, Reporter &reporter,
                           EntryRecord *copied) const
{
    return CopyRuns(first, count, out, reporter, [&](std::size_t k, std::uint64_t offset) {
        copied[k - first] = records_[k];
        copied[k - first].Offset = offset;
    });
}

bool ExistingArchive::CopyHere(std::size_t first, std::size_t count, OutputFile &out, Reporter &reporter)
{
    return CopyRuns(first, count, out, reporter,
                    [this](std::size_t k, std::uint64_t offset) { records_[k].Offset = offset; });
}

} // namespace pellux::libs
