#include "libs/pxzip/ArchiveWriter.h"

#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"
#include "util/NameCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace pellux::libs {

namespace {

constexpr std::uint16_t kFlagUtf8 = 1u << 11;
constexpr std::uint16_t kMadeByUnix = 3u << 8 | 30u;
constexpr std::uint16_t kFlagEncrypted = 1u << 0;
constexpr std::uint16_t kVersionAes = 51;

std::string TimestampExtra(std::time_t mtime)
{
    const std::string body = TimestampField(mtime);
    return std::string{char(kExtraTimestamp & 0xFF), char(kExtraTimestamp >> 8), char(body.size()), '\0'} + body;
}

// Deflate's option bits (APPNOTE 4.4.4): maximum, fast or super fast.
std::uint16_t LevelFlags(int level)
{
    if (level >= 8)
        return 1u << 1;
    if (level == 2)
        return 1u << 2;
    return level == 1 ? 3u << 1 : 0u;
}

bool AllZero(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

// Reads a file chunk by chunk. In a sparse file (fewer blocks than its size needs) the
// holes are found with SEEK_DATA and SEEK_HOLE and not read; where the file system cannot
// tell, all of the file is data.
class FileReader {
public:
    FileReader(int fd, bool sparse) : fd_(fd), sparse_(sparse) {}

    // Whether all of [from, to) is a hole.
    bool Hole(std::uint64_t from, std::uint64_t to) { return sparse_ && Find(from) && dataAt_ >= to && end_ >= to; }

    // Reads up to `want` bytes at `from`, holes as zeros, counting each piece of at most
    // a step as progress. Returns the bytes read (fewer at the end of the file), -1 on an
    // error, -2 when stopped.
    std::int64_t Read(std::string &into, std::uint64_t from, std::size_t want, Reporter &reporter)
    {
        into.assign(want, '\0');
        const std::uint64_t end = from + want;
        std::uint64_t at = from;
        while (at < end) {
            std::uint64_t to = end;
            if (sparse_ && Find(at)) {
                const std::uint64_t data = std::min(dataAt_, end);
                if (data > at) {
                    if (end_ <= at) // the file was cut short while it was read
                        break;
                    const std::uint64_t hole = std::min(data, end_);
                    if (reporter.Advance(hole - at))
                        return -2;
                    at = hole;
                    continue;
                }
                to = std::min(end, holeAt_);
            }
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(to - at, Reporter::kStepBytes));
            const ssize_t n = ::pread(fd_, into.data() + (at - from), piece, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            at += static_cast<std::uint64_t>(n);
            if (reporter.Advance(static_cast<std::uint64_t>(n)))
                return -2;
        }
        into.resize(static_cast<std::size_t>(at - from));
        return static_cast<std::int64_t>(at - from);
    }

private:
    // Finds the hole [holeFrom_, dataAt_) and the data [dataAt_, holeAt_) around `at`;
    // false when the file system cannot tell, and all of the file is read from then on.
    bool Find(std::uint64_t at)
    {
        if (at >= holeFrom_ && at < holeAt_)
            return true;
        const off_t data = ::lseek(fd_, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // No data after `at`: a hole up to the end of the file as it is now.
            struct stat st {};
            if (::fstat(fd_, &st) != 0)
                return sparse_ = false;
            holeFrom_ = at;
            dataAt_ = holeAt_ = UINT64_MAX;
            end_ = static_cast<std::uint64_t>(st.st_size);
            return true;
        }
        const off_t hole = data < 0 ? -1 : ::lseek(fd_, data, SEEK_HOLE);
        if (hole <= data)
            return sparse_ = false;
        holeFrom_ = at;
        dataAt_ = static_cast<std::uint64_t>(data);
        holeAt_ = static_cast<std::uint64_t>(hole);
        end_ = UINT64_MAX;
        return true;
    }

    int fd_;
    bool sparse_;
    std::uint64_t holeFrom_ = 0, dataAt_ = 0, holeAt_ = 0;
    std::uint64_t end_ = UINT64_MAX; // the file's end, once past its last data
};

// Deflate is kept only where it saves something.
bool Compressed(const DeflateJob &job)
{
    return !job.Failed && job.Output.size() + job.Input.size() / 1024 < job.Input.size();
}

} // namespace

ArchiveWriter::ArchiveWriter(const std::string &archive, const ExistingArchive &existing, int level, Reporter &reporter,
                             const Secret *password)
    : archive_(archive), existing_(existing), level_(level), reporter_(reporter), password_(password)
{
}

ArchiveWriter::~ArchiveWriter() = default;

bool ArchiveWriter::WriteFailed()
{
    if (!reporter_.Stopped())
        reporter_.Error(kPxArchiveError, "cannot write " + archive_ + ": " + out_.Error());
    return false;
}

bool ArchiveWriter::Begin()
{
    if (!out_.Create(archive_))
        return WriteFailed();
    if (level_ > 0 || password_)
        compressor_ = std::make_unique<Compressor>(level_);
    return true;
}

bool ArchiveWriter::Push(Pending pending)
{
    const std::size_t workers = compressor_ ? compressor_->Workers() : 1;
    // Enough queued to keep every worker busy while the oldest is written, no more; on
    // many cores, memory sets the limit.
    const std::size_t bytes = std::min<std::size_t>((2 * workers + 2) * Compressor::kChunk, 64u << 20);
    while (!queue_.empty() && (queue_.size() >= 4 * workers + 4 || queuedBytes_ >= bytes)) {
        if (!ConsumeFront())
            return false;
    }
    if (pending.Job && !pending.Shared) {
        queuedBytes_ += pending.Job->Input.size();
        if (pending.Compress)
            compressor_->Submit(pending.Job.get());
    }
    queue_.push_back(std::move(pending));
    return true;
}

bool ArchiveWriter::Drain()
{
    while (!queue_.empty()) {
        if (!ConsumeFront())
            return false;
    }
    return true;
}

bool ArchiveWriter::ConsumeFront()
{
    Pending &front = queue_.front();
    bool ok = true;
    switch (front.What) {
    case Pending::Copy:
        ok = existing_.Copy(front.Source, front.Count, out_, reporter_, &records_[front.Entry]) || WriteFailed();
        break;
    case Pending::Data:
        ok = WriteData(front);
        break;
    case Pending::Close:
        ok = Close(front.Entry);
        break;
    }
    // Stopped while a worker may still be compressing it: the job stays queued, to go
    // only after the compressor has waited for its workers.
    if (!ok)
        return false;
    if (front.Job && !front.Shared)
        queuedBytes_ -= front.Job->Input.size();
    queue_.pop_front();
    return true;
}

bool ArchiveWriter::StartEntry(std::size_t entry)
{
    EntryState &state = states_[entry];
    EntryRecord &record = records_[entry];
    state.Started = true;
    state.LocalAt = out_.Position();
    record.Offset = state.LocalAt;
    record.Method = state.Method;
    record.VersionNeeded = record.Method == kMethodDeflate || record.Name.ends_with('/') ? 20 : 10;
    if (record.Method == kMethodDeflate)
        record.Flags |= LevelFlags(level_);
    if (state.Encrypt) {
        // AE-2: the headers name the data's method in the AES field only, and carry no
        // CRC; the MAC after the data protects it instead.
        AesField field;
        field.Strength = KeyJob::kStrength;
        field.Method = state.Method;
        record.Extra += AesFieldBytes(field);
        record.Method = kMethodAes;
        record.Flags |= kFlagEncrypted;
        record.VersionNeeded = kVersionAes;
        record.Crc32 = 0;
    }
    if (!out_.Write(LocalHeaderBytes(record, state.Zip64)))
        return WriteFailed();
    return !state.Encrypt || StartEncryption(entry);
}

// The entry's salt and the password's verifier, ahead of the data.
bool ArchiveWriter::StartEncryption(std::size_t entry)
{
    EntryState &state = states_[entry];
    KeyJob &key = *state.Key;
    if (!Await(&key))
        return false;
    if (!key.Ok) {
        reporter_.Error(kPxInternalError, "cannot encrypt " + state.Path);
        return false;
    }
    if (!out_.Write(key.Salt, sizeof(key.Salt)) || !out_.Write(key.Verifier, sizeof(key.Verifier)))
        return WriteFailed();
    records_[entry].CompressedSize += sizeof(key.Salt) + sizeof(key.Verifier);
    return true;
}

template <typename Job>
bool ArchiveWriter::Await(Job *job)
{
    for (bool done = false; !done;) {
        done = compressor_->WaitFor(job, std::chrono::milliseconds(20));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastStep_ >= std::chrono::milliseconds(40)) {
            lastStep_ = now;
            if (reporter_.Step())
                return false;
        }
    }
    return true;
}

bool ArchiveWriter::WriteData(Pending &pending)
{
    DeflateJob &job = *pending.Job;
    EntryRecord &record = records_[pending.Entry];
    EntryState &state = states_[pending.Entry];
    if (pending.Compress) {
        // The caller answers its window, and may stop, while the chunks queued after the
        // last read are compressed.
        if (!Await(&job))
            return false;
    } else if (!state.Encrypt && !pending.Shared) {
        job.Crc32 = Crc32(0, job.Input.data(), job.Input.size());
    }
    if (!state.Started) {
        // The first chunk decides for the whole entry.
        state.Method = pending.Compress && Compressed(job) ? kMethodDeflate : kMethodStore;
        state.Libdeflate = job.LibdeflateAfter;
        if (!StartEntry(pending.Entry))
            return false;
    } else if (state.Method == kMethodDeflate && job.Failed) {
        reporter_.Error(kPxInternalError, "cannot compress " + state.Path);
        return false;
    }
    std::string *bytes = state.Method == kMethodDeflate ? &job.Output : &job.Input;
    std::string own;
    if (state.Key) {
        if (pending.Shared) // encrypted in place, the shared chunk would be lost
            bytes = &(own = *bytes);
        state.Key->Cipher->Encrypt(reinterpret_cast<unsigned char *>(bytes->data()), bytes->size());
    }
    if (!out_.Write(*bytes))
        return WriteFailed();
    if (!state.Encrypt)
        record.Crc32 = record.UncompressedSize == 0
            ? job.Crc32
            : static_cast<std::uint32_t>(
                crc32_combine(record.Crc32, job.Crc32, static_cast<z_off_t>(job.Input.size())));
    record.CompressedSize += bytes->size();
    record.UncompressedSize += job.Input.size();
    return true;
}

bool ArchiveWriter::Close(std::size_t entry)
{
    EntryState &state = states_[entry];
    if (!state.Started) {
        if (!StartEntry(entry))
            return false;
        if (!state.Encrypt)
            return true; // nothing stored: the header is complete as it is
    }
    EntryRecord &record = records_[entry];
    if (state.Key) {
        unsigned char mac[kAesMacSize];
        state.Key->Cipher->Finish(mac);
        const bool ciphered = state.Key->Cipher->Ok();
        state.Key.reset(); // the keys go with it
        if (!ciphered) {
            reporter_.Error(kPxInternalError, "cannot encrypt " + state.Path);
            return false;
        }
        if (!out_.Write(mac, sizeof(mac)))
            return WriteFailed();
        record.CompressedSize += sizeof(mac);
    }
    if (!state.Zip64 && (record.CompressedSize >= kSaturated32 || record.UncompressedSize >= kSaturated32)) {
        reporter_.Error(kPxFileError, "cannot add " + state.Path + ": it grew while it was read");
        return false;
    }
    return out_.Patch(state.LocalAt, LocalHeaderBytes(record, state.Zip64)) || WriteFailed();
}

bool ArchiveWriter::Keep(std::size_t existingIndex)
{
    records_.emplace_back();
    states_.emplace_back();
    // A run of entries that stay goes in one copy.
    if (!queue_.empty() && queue_.back().What == Pending::Copy
        && queue_.back().Source + queue_.back().Count == existingIndex) {
        ++queue_.back().Count;
        return true;
    }
    return Push(Pending{Pending::Copy, records_.size() - 1, existingIndex});
}

bool ArchiveWriter::Add(const SourceItem &item, const std::string &comment)
{
    EntryRecord record;
    record.Name = item.Name;
    record.Extra = TimestampExtra(item.Stat.st_mtime);
    record.Comment = comment;
    record.VersionMadeBy = kMadeByUnix;
    const bool ascii = std::all_of(item.Name.begin(), item.Name.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii && IsValidUtf8(item.Name))
        record.Flags |= kFlagUtf8;
    record.DosDateTime = DosDateTime(item.Stat.st_mtime);
    const std::uint32_t dosAttributes = item.IsDir() ? 0x10u : 0u;
    record.ExternalAttributes = (static_cast<std::uint32_t>(item.Stat.st_mode) & 0xFFFFu) << 16 | dosAttributes;
    records_.push_back(std::move(record));
    EntryState state;
    state.Path = item.Path;
    state.Zip64 = !item.IsDir() && static_cast<std::uint64_t>(item.Stat.st_size) >= kLocalZip64From;
    // A link's target is stored as it is, as other archivers store it.
    state.Encrypt = password_ && !item.IsDir() && !item.IsLink();
    if (state.Encrypt) {
        // Derived while the entries before it are written.
        state.Key = std::make_unique<KeyJob>();
        state.Key->Password = password_->Text();
        compressor_->Submit(state.Key.get());
    }
    states_.push_back(std::move(state));
    const std::size_t entry = records_.size() - 1;
    if (!item.IsDir() && !AddFile(item, entry))
        return false;
    return Push(Pending{Pending::Close, entry, 0});
}

bool ArchiveWriter::AddFile(const SourceItem &item, std::size_t entry)
{
    const auto size = static_cast<std::uint64_t>(item.Stat.st_size);
    if (reporter_.File(item.Name, size))
        return false;
    if (item.IsLink()) {
        auto job = std::make_shared<DeflateJob>();
        job->Input = item.LinkTarget;
        job->Last = true;
        if (reporter_.Advance(size))
            return false;
        return job->Input.empty() || Push(Pending{Pending::Data, entry, 0, false, std::move(job)});
    }
    const int fd = ::open(item.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reporter_.Error(kPxFileError, "cannot read " + item.Path + ": " + std::strerror(errno));
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const bool sparse = static_cast<std::uint64_t>(item.Stat.st_blocks) * 512 < size;
    if (!sparse)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    FileReader reader(fd, sparse);

    // Bytes past the size seen when the files were collected are left out.
    std::uint64_t done = 0;
    std::string previous;
    bool previousZero = false; // all of the window before `done` is zeros
    while (done < size) {
        const bool first = done == 0;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(size - done, first ? Compressor::kFirstChunk : Compressor::kChunk));
        const bool compress = level_ > 0 && (first || states_[entry].Method == kMethodDeflate);
        // A whole chunk of hole, not the last: nothing to read.
        if (previousZero && want == Compressor::kChunk && done + want < size && reader.Hole(done, done + want)) {
            done += want;
            if (reporter_.Advance(want))
                return false;
            if (!Push(Pending{Pending::Data, entry, 0, compress, ZeroChunk(compress), 1, true}))
                return false;
            continue;
        }
        auto job = std::make_shared<DeflateJob>();
        const std::int64_t got = reader.Read(job->Input, done, want, reporter_);
        if (got == -2)
            return false;
        if (got < 0) {
            reporter_.Error(kPxFileError, "cannot read " + item.Path + ": " + std::strerror(errno));
            return false;
        }
        done += static_cast<std::uint64_t>(got);
        job->Last = done >= size || static_cast<std::size_t>(got) < want;
        const bool last = job->Last;
        bool shared = false;
        if (previousZero && !last && job->Input.size() == Compressor::kChunk && AllZero(job->Input)) {
            job = ZeroChunk(compress);
            shared = true;
        } else {
            if (!first) {
                job->Dictionary = previous.substr(previous.size() - std::min(previous.size(), Compressor::kWindow));
                job->Libdeflate = states_[entry].Libdeflate;
            }
            if (!last) {
                previous = job->Input.substr(job->Input.size() - std::min(job->Input.size(), Compressor::kWindow));
                previousZero = previous.size() == Compressor::kWindow && AllZero(previous);
            }
        }
        // A file cut short still needs the stream's final block.
        if ((got > 0 || (!first && compress))
            && !Push(Pending{Pending::Data, entry, 0, compress, std::move(job), 1, shared}))
            return false;
        // The rest of a large file waits for its first chunk to tell whether it compresses.
        if (first && !last && !Drain())
            return false;
        if (got == 0 || last)
            break;
    }
    return true;
}

std::shared_ptr<DeflateJob> ArchiveWriter::ZeroChunk(bool compress)
{
    if (!zeroChunk_) {
        zeroChunk_ = std::make_shared<DeflateJob>();
        zeroChunk_->Input.assign(Compressor::kChunk, '\0');
        zeroChunk_->Dictionary.assign(Compressor::kWindow, '\0');
        zeroChunk_->Crc32 = Crc32(0, zeroChunk_->Input.data(), zeroChunk_->Input.size());
    }
    if (compress && !zeroSubmitted_) {
        zeroSubmitted_ = true;
        compressor_->Submit(zeroChunk_.get());
    }
    return zeroChunk_;
}

bool ArchiveWriter::Finish()
{
    if (!Drain())
        return false;
    const std::uint64_t directoryStart = out_.Position();
    for (const auto &record : records_) {
        if (!out_.Write(CentralHeaderBytes(record)))
            return WriteFailed();
    }
    const std::uint64_t directorySize = out_.Position() - directoryStart;
    if (!out_.Write(EndRecordBytes(records_.size(), directoryStart, directorySize, existing_.Comment()))
        || !out_.Commit())
        return WriteFailed();
    return true;
}

} // namespace pellux::libs
