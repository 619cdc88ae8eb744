#include "libs/pxzip/ArchiveWriter.h"

#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"
#include "util/NameCodec.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Reads up to `want` bytes, counting each piece of at most a step as progress. Returns
// the bytes read (fewer at the end of the file), -1 on an error, -2 when stopped.
std::int64_t ReadCounted(int fd, std::string &into, std::size_t want, Reporter &reporter)
{
    into.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const std::size_t piece = std::min<std::size_t>(want - got, Reporter::kStepBytes);
        const ssize_t n = ::read(fd, into.data() + got, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
        if (reporter.Advance(static_cast<std::uint64_t>(n)))
            return -2;
    }
    into.resize(got);
    return static_cast<std::int64_t>(got);
}

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
    // Enough queued to keep every worker busy while the oldest is written, no more.
    while (!queue_.empty()
           && (queue_.size() >= 4 * workers + 4 || queuedBytes_ >= (2 * workers + 2) * Compressor::kChunk)) {
        if (!ConsumeFront())
            return false;
    }
    if (pending.Job) {
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
    if (front.Job)
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
    } else if (!state.Encrypt)
        job.Crc32 = Crc32(0, job.Input.data(), job.Input.size());
    if (!state.Started) {
        // The first chunk decides for the whole entry.
        state.Method = pending.Compress && Compressed(job) ? kMethodDeflate : kMethodStore;
        if (!StartEntry(pending.Entry))
            return false;
    } else if (state.Method == kMethodDeflate && job.Failed) {
        reporter_.Error(kPxInternalError, "cannot compress " + state.Path);
        return false;
    }
    std::string &bytes = state.Method == kMethodDeflate ? job.Output : job.Input;
    if (state.Key)
        state.Key->Cipher->Encrypt(reinterpret_cast<unsigned char *>(bytes.data()), bytes.size());
    if (!out_.Write(bytes))
        return WriteFailed();
    if (!state.Encrypt)
        record.Crc32 = record.UncompressedSize == 0
            ? job.Crc32
            : static_cast<std::uint32_t>(
                crc32_combine(record.Crc32, job.Crc32, static_cast<z_off_t>(job.Input.size())));
    record.CompressedSize += bytes.size();
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
        auto job = std::make_unique<DeflateJob>();
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
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    // Bytes past the size seen when the files were collected are left out.
    std::uint64_t done = 0;
    std::string previous;
    while (done < size) {
        auto job = std::make_unique<DeflateJob>();
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, Compressor::kChunk));
        const std::int64_t got = ReadCounted(fd, job->Input, want, reporter_);
        if (got == -2)
            return false;
        if (got < 0) {
            reporter_.Error(kPxFileError, "cannot read " + item.Path + ": " + std::strerror(errno));
            return false;
        }
        const bool first = done == 0;
        done += static_cast<std::uint64_t>(got);
        job->Last = done >= size || static_cast<std::size_t>(got) < want;
        if (!first)
            job->Dictionary = previous.substr(previous.size() - std::min(previous.size(), Compressor::kWindow));
        if (!job->Last)
            previous = job->Input.substr(job->Input.size() - std::min(job->Input.size(), Compressor::kWindow));
        const bool compress = level_ > 0 && (first || states_[entry].Method == kMethodDeflate);
        const bool last = job->Last;
        // A file cut short still needs the stream's final block.
        if ((got > 0 || (!first && compress)) && !Push(Pending{Pending::Data, entry, 0, compress, std::move(job)}))
            return false;
        // The rest of a large file waits for its first chunk to tell whether it compresses.
        if (first && !last && !Drain())
            return false;
        if (got == 0 || last)
            break;
    }
    return true;
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
