#include "tools/zip2exe/Zip2Exe.h"

#include "util/EndRecord.h"
#include "util/LittleEndian.h"
#include "util/NameCodec.h"
#include "util/ZipRecords.h"
#include "util/ZipSignatures.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux::zip2exe {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint64_t kSaturated32 = 0xFFFFFFFFu;
constexpr std::uint32_t kDigitalSignature = 0x05054B50; // "PK" 05 05, may end the directory
constexpr std::size_t kCentralFixed = 46;
constexpr std::size_t kLocalFixed = 30;
constexpr std::size_t kZip64RecordFixed = 56;
constexpr std::uint16_t kZip64Version = 45;

void Put16(unsigned char *p, std::uint64_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char *p, std::uint64_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
void Put64(unsigned char *p, std::uint64_t v)
{
    Put32(p, v);
    Put32(p + 4, v >> 32);
}
void Append(Bytes &out, const unsigned char *p, std::size_t n) { out.insert(out.end(), p, p + n); }
void AppendLE(Bytes &out, std::uint64_t v, int width)
{
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::string Errno(int error) { return std::strerror(error); }

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The input, read by position; any failure is a refusal naming the file.
class Input {
public:
    Input(const std::string &path, int fd, std::uint64_t size) : path_(path), fd_(fd), size_(size) {}
    std::uint64_t Size() const { return size_; }
    int Fd() const { return fd_; }

    void Read(std::uint64_t position, void *buffer, std::size_t count) const
    {
        auto *p = static_cast<unsigned char *>(buffer);
        while (count > 0) {
            const ssize_t got = ::pread(fd_, p, count, static_cast<off_t>(position));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw Refusal(path_ + ": " + Errno(errno));
            if (got == 0)
                throw Refusal(path_ + ": unexpected end of file");
            p += got;
            position += static_cast<std::uint64_t>(got);
            count -= static_cast<std::size_t>(got);
        }
    }
    Bytes Read(std::uint64_t position, std::size_t count) const
    {
        Bytes bytes(count);
        Read(position, bytes.data(), count);
        return bytes;
    }
    bool HasSignature(std::uint64_t position, std::uint32_t signature) const
    {
        unsigned char s[4];
        if (position + 4 > size_)
            return false;
        Read(position, s, 4);
        return le::U32(s) == signature;
    }

private:
    const std::string &path_;
    int fd_;
    std::uint64_t size_;
};

// Where the parts of the archive really lie in the input.
struct Layout {
    std::uint64_t directoryStart = 0;
    std::uint64_t directorySize = 0;
    std::int64_t shift = 0;           // real minus stated positions (data put in front)
    std::uint64_t zip64RecordPos = 0; // with zip64Record non-empty
    Bytes zip64Record;                // the ZIP64 end record as stored, locator excluded
    Bytes locator;
    std::uint64_t endRecordPos = 0;
    Bytes tail; // end record, comment and whatever follows up to the end of the file
};

struct ReadContext {
    const Input &in;
    std::string error; // the first read failure, to report it as it happened
};

int ReadCallback(void *context, std::uint64_t offset, void *buffer, std::size_t length)
{
    auto &c = *static_cast<ReadContext *>(context);
    try {
        if (offset > c.in.Size() || length > c.in.Size() - offset)
            return -1;
        c.in.Read(offset, buffer, length);
        return 0;
    } catch (const Refusal &refusal) {
        if (c.error.empty())
            c.error = refusal.what();
        return -1;
    }
}

Layout LocateArchive(const Input &in, const std::string &name)
{
    if (in.Size() < sig::kEndOfCentralDirSize)
        throw Refusal(name + ": not a ZIP archive (too short)");
    ReadContext context{in, {}};
    pellux_end_record end{};
    switch (pellux_find_end_record(ReadCallback, &context, in.Size(), &end)) {
    case PELLUX_END_FOUND:
        break;
    case PELLUX_END_NONE:
        throw Refusal(name + ": not a ZIP archive (no end of central directory record)");
    case PELLUX_END_OUT_OF_RANGE:
        throw Refusal(name + ": not a ZIP archive (central directory out of range)");
    default:
        throw Refusal(context.error.empty() ? name + ": cannot be read" : context.error);
    }
    Layout l;
    l.endRecordPos = end.end_pos;
    l.tail = in.Read(end.end_pos, static_cast<std::size_t>(in.Size() - end.end_pos));
    l.directoryStart = end.directory_start;
    l.directorySize = end.directory_size;
    l.shift = end.shift;
    if (end.has_locator) {
        l.locator = in.Read(end.locator_pos, PELLUX_LOCATOR_SIZE);
        // The record is copied as it stands, so its stated size must cover it exactly.
        if (end.has_end64)
            l.zip64Record = in.Read(end.end64_pos, static_cast<std::size_t>(end.locator_pos - end.end64_pos));
        if (l.zip64Record.empty() || le::U64(l.zip64Record.data() + 4) + 12 != l.zip64Record.size())
            throw Refusal(name + ": not a ZIP archive (ZIP64 end record not found)");
        l.zip64RecordPos = end.end64_pos;
    } else if (end.disk != 0 || end.directory_disk != 0) {
        throw Refusal(name + ": a part of a split archive cannot be converted");
    }
    return l;
}

// One central-directory record and where its stored values sit.
struct CentralRecord {
    const unsigned char *h = nullptr;
    std::size_t nameLength = 0, extraLength = 0, commentLength = 0;
    std::uint64_t localOffset = 0;         // as stored
    std::optional<std::size_t> zip64Field; // offset of the ZIP64 extra in the record
    std::size_t zip64OffsetAt = 0;         // of the offset value, when it is there
    std::size_t Length() const { return kCentralFixed + nameLength + extraLength + commentLength; }
    const unsigned char *Extra() const { return h + kCentralFixed + nameLength; }
};

// The values a ZIP64 extra holds are those whose header field is saturated, in the
// order uncompressed size, compressed size, local header offset, disk number.
bool SizeSaturated(const unsigned char *h, int which) { return le::U32(h + (which == 0 ? 24 : 20)) == kSaturated32; }

CentralRecord ParseRecord(const unsigned char *h, std::size_t available, const std::string &name, std::uint64_t number)
{
    CentralRecord r;
    r.h = h;
    if (available < kCentralFixed || le::U32(h) != sig::kCentralHeader)
        throw Refusal(name + ": not a ZIP archive (central directory unreadable at entry " + std::to_string(number)
                      + ")");
    r.nameLength = le::U16(h + 28);
    r.extraLength = le::U16(h + 30);
    r.commentLength = le::U16(h + 32);
    if (r.Length() > available)
        throw Refusal(name + ": not a ZIP archive (central directory unreadable at entry " + std::to_string(number)
                      + ")");
    r.localOffset = le::U32(h + 42);
    const unsigned char *x = r.Extra();
    for (std::size_t e = 0; e + 4 <= r.extraLength;) {
        const std::size_t length = le::U16(x + e + 2);
        if (e + 4 + length > r.extraLength)
            break;
        if (le::U16(x + e) == sig::kZip64ExtraId && !r.zip64Field) {
            r.zip64Field = e;
            std::size_t at = e + 4 + 8 * (SizeSaturated(h, 0) + SizeSaturated(h, 1));
            if (r.localOffset == kSaturated32 && at + 8 <= e + 4 + length) {
                r.localOffset = le::U64(x + at);
                r.zip64OffsetAt = kCentralFixed + r.nameLength + at;
            }
        }
        e += 4 + length;
    }
    return r;
}

// The record with its offset moved to newOffset. A value that no longer fits in 32
// bits goes into the ZIP64 extra, which is then rebuilt; everything else stays as it was.
void AppendMoved(Bytes &out, const CentralRecord &r, std::uint64_t newOffset, const std::string &entry)
{
    const std::size_t start = out.size();
    if (r.zip64OffsetAt != 0) {
        Append(out, r.h, r.Length());
        Put64(out.data() + start + r.zip64OffsetAt, newOffset);
        return;
    }
    if (newOffset < kSaturated32) {
        Append(out, r.h, r.Length());
        Put32(out.data() + start + 42, newOffset);
        return;
    }
    const unsigned char *x = r.Extra();
    // The values the old ZIP64 extra held, in their order; a saturated field without
    // one meant exactly 0xFFFFFFFF.
    std::size_t next = 0;
    auto oldValue = [&](std::size_t width) -> std::optional<Bytes> {
        if (!r.zip64Field)
            return std::nullopt;
        const std::size_t at = *r.zip64Field + 4 + next, end = *r.zip64Field + 4 + le::U16(x + *r.zip64Field + 2);
        if (at + width > end)
            return std::nullopt;
        next += width;
        return Bytes(x + at, x + at + width);
    };
    Bytes zip64;
    AppendLE(zip64, sig::kZip64ExtraId, 2);
    AppendLE(zip64, 0, 2);
    for (int which = 0; which < 2; ++which) {
        if (SizeSaturated(r.h, which)) {
            const auto v = oldValue(8);
            if (v)
                zip64.insert(zip64.end(), v->begin(), v->end());
            else
                AppendLE(zip64, kSaturated32, 8);
        }
    }
    AppendLE(zip64, newOffset, 8);
    if (le::U16(r.h + 34) == 0xFFFF) {
        const auto disk = oldValue(4);
        if (disk)
            zip64.insert(zip64.end(), disk->begin(), disk->end());
    }
    Put16(zip64.data() + 2, zip64.size() - 4);

    Bytes extra;
    bool placed = false;
    std::size_t e = 0;
    for (; e + 4 <= r.extraLength && e + 4 + le::U16(x + e + 2) <= r.extraLength; e += 4 + le::U16(x + e + 2)) {
        if (r.zip64Field && e == *r.zip64Field) {
            extra.insert(extra.end(), zip64.begin(), zip64.end());
            placed = true;
        } else {
            Append(extra, x + e, 4 + le::U16(x + e + 2));
        }
    }
    if (!placed)
        extra.insert(extra.end(), zip64.begin(), zip64.end());
    Append(extra, x + e, r.extraLength - e); // padding that is no field of its own
    if (extra.size() > 0xFFFF)
        throw Refusal(entry + ": extra field too long for a ZIP64 offset");

    Append(out, r.h, kCentralFixed + r.nameLength);
    unsigned char *h = out.data() + start;
    Put32(h + 42, kSaturated32);
    Put16(h + 30, extra.size());
    if ((le::U16(h + 6) & 0xFF) < kZip64Version)
        Put16(h + 6, kZip64Version);
    out.insert(out.end(), extra.begin(), extra.end());
    Append(out, r.Extra() + r.extraLength, r.commentLength);
}

// The new archive's directory and end records, after the stub and the copied data.
struct Tail {
    Bytes directory;
    Bytes endRecords; // ZIP64 end record and locator when needed, then the end record
};

Tail BuildTail(const Input &in, const std::string &name, const Layout &l, std::uint64_t stubSize)
{
    const Bytes dir = in.Read(l.directoryStart, static_cast<std::size_t>(l.directorySize));
    Tail t;
    t.directory.reserve(dir.size() + 64);
    std::uint64_t count = 0;
    std::size_t p = 0;
    while (p < dir.size()) {
        if (p + 4 <= dir.size() && le::U32(dir.data() + p) == kDigitalSignature) {
            Append(t.directory, dir.data() + p, dir.size() - p);
            break;
        }
        const CentralRecord r = ParseRecord(dir.data() + p, dir.size() - p, name, count + 1);
        const std::string entry = name + ": entry "
            + DecodeStoredName(std::string_view(reinterpret_cast<const char *>(r.h + kCentralFixed), r.nameLength));
        const unsigned flags = le::U16(r.h + 8);
        const unsigned method = le::U16(r.h + 10);
        if (flags & 1)
            throw Refusal(entry + ": encrypted entries cannot be unpacked by the extractor");
        if (method != 0 && method != 8)
            throw Refusal(entry + ": compression method " + std::to_string(method) + " ("
                          + CompressionMethodName(static_cast<std::uint16_t>(method))
                          + ") cannot be unpacked by the extractor");
        if (le::U32(r.h + 42) == kSaturated32 && r.zip64OffsetAt == 0)
            throw Refusal(entry + ": ZIP64 extra field without the local header offset");
        const std::int64_t local = static_cast<std::int64_t>(r.localOffset) + l.shift;
        if (local < 0 || static_cast<std::uint64_t>(local) + kLocalFixed > l.directoryStart
            || !in.HasSignature(static_cast<std::uint64_t>(local), sig::kLocalHeader))
            throw Refusal(entry + ": no local header at offset " + std::to_string(r.localOffset)
                          + " (not a ZIP archive?)");
        AppendMoved(t.directory, r, static_cast<std::uint64_t>(local) + stubSize, entry);
        p += r.Length();
        ++count;
    }

    // Nothing to unpack, and readers disagree about where an empty directory starts.
    if (count == 0)
        throw Refusal(name + ": the archive holds no entries");

    const std::uint64_t directoryStart = l.directoryStart + stubSize;
    const std::uint64_t directorySize = t.directory.size();
    Bytes end = l.tail;
    unsigned char *e = end.data();
    const bool sizeSaturated = le::U32(e + 12) == kSaturated32 || directorySize >= kSaturated32;
    const bool startSaturated = le::U32(e + 16) == kSaturated32 || directoryStart >= kSaturated32;
    Put32(e + 12, sizeSaturated ? kSaturated32 : directorySize);
    Put32(e + 16, startSaturated ? kSaturated32 : directoryStart);

    const std::uint64_t recordPos = directoryStart + directorySize;
    if (!l.zip64Record.empty()) {
        t.endRecords = l.zip64Record;
        Put64(t.endRecords.data() + 40, directorySize);
        Put64(t.endRecords.data() + 48, directoryStart);
        Bytes locator = l.locator;
        Put64(locator.data() + 8, recordPos);
        t.endRecords.insert(t.endRecords.end(), locator.begin(), locator.end());
    } else if (sizeSaturated || startSaturated) {
        Bytes &z = t.endRecords;
        AppendLE(z, sig::kZip64EndOfCentralDir, 4);
        AppendLE(z, kZip64RecordFixed - 12, 8);
        AppendLE(z, kZip64Version, 2); // made by
        AppendLE(z, kZip64Version, 2); // needed to extract
        AppendLE(z, 0, 4);             // this disk
        AppendLE(z, 0, 4);             // disk with the directory
        AppendLE(z, count, 8);
        AppendLE(z, count, 8);
        AppendLE(z, directorySize, 8);
        AppendLE(z, directoryStart, 8);
        AppendLE(z, sig::kZip64Locator, 4);
        AppendLE(z, 0, 4);
        AppendLE(z, recordPos, 8);
        AppendLE(z, 1, 4); // number of disks
    }
    t.endRecords.insert(t.endRecords.end(), end.begin(), end.end());
    return t;
}

// The output is first written under a temporary name beside the target and renamed
// over it only when complete; anything else removes it.
class OutputFile {
public:
    OutputFile(const std::string &dir, const std::string &target) : target_(target)
    {
        temp_ = (std::filesystem::path(dir) / ("." + std::filesystem::path(target).filename().string() + ".XXXXXX"))
                    .string();
        fd_ = ::mkstemp(temp_.data());
        if (fd_ < 0)
            throw Refusal("cannot write in " + dir + ": " + Errno(errno));
    }
    ~OutputFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_)
            ::unlink(temp_.c_str());
    }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    int Fd() const { return fd_; }
    [[noreturn]] void Fail(int error) const { throw Refusal(target_ + ": " + Errno(error)); }

    void WriteAt(std::uint64_t position, const unsigned char *p, std::size_t count) const
    {
        while (count > 0) {
            const ssize_t put = ::pwrite(fd_, p, count, static_cast<off_t>(position));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                Fail(put < 0 ? errno : ENOSPC);
            p += put;
            position += static_cast<std::uint64_t>(put);
            count -= static_cast<std::size_t>(put);
        }
    }

    void Commit()
    {
        if (::fchmod(fd_, 0755) != 0 || ::fsync(fd_) != 0)
            Fail(errno);
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0)
            Fail(errno);
        if (::rename(temp_.c_str(), target_.c_str()) != 0)
            Fail(errno);
        committed_ = true;
    }

private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// Copies count bytes from the input at `from` to the output at `to`. Holes in the
// input stay holes; data goes through the kernel where it can.
void CopyRange(const Input &in, const std::string &name, const OutputFile &out, std::uint64_t from, std::uint64_t to,
               std::uint64_t count)
{
    const std::uint64_t end = from + count;
    std::vector<unsigned char> buffer;
    bool kernelCopy = true;
    while (from < end) {
        std::uint64_t dataEnd = end;
        const off_t data = ::lseek(in.Fd(), static_cast<off_t>(from), SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end of the file
        if (data >= 0) {
            const std::uint64_t skip = std::min<std::uint64_t>(static_cast<std::uint64_t>(data), end) - from;
            from += skip;
            to += skip;
            const off_t hole = ::lseek(in.Fd(), data, SEEK_HOLE);
            if (hole > data)
                dataEnd = std::min<std::uint64_t>(end, static_cast<std::uint64_t>(hole));
        }
        while (from < dataEnd) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(dataEnd - from, 1u << 30));
            if (kernelCopy) {
                loff_t inPos = static_cast<loff_t>(from), outPos = static_cast<loff_t>(to);
                const ssize_t done = ::copy_file_range(in.Fd(), &inPos, out.Fd(), &outPos, chunk, 0);
                if (done > 0) {
                    from += static_cast<std::uint64_t>(done);
                    to += static_cast<std::uint64_t>(done);
                    continue;
                }
                if (done == 0)
                    throw Refusal(name + ": unexpected end of file");
                if (errno == EINTR)
                    continue;
                if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
                    out.Fail(errno);
                kernelCopy = false;
                buffer.resize(4u << 20);
            }
            const std::size_t piece = std::min(chunk, buffer.size());
            in.Read(from, buffer.data(), piece);
            out.WriteAt(to, buffer.data(), piece);
            from += piece;
            to += piece;
        }
    }
}

std::string FileKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return " (a directory)";
    if (S_ISFIFO(mode))
        return " (a FIFO)";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return " (a device)";
    if (S_ISSOCK(mode))
        return " (a socket)";
    return "";
}

// Entries that share their bytes would make the program write one entry's data many
// times over (a zip bomb): such an archive is not wrapped, as the libraries refuse it.
void RefuseOverlaps(int fd, const std::string &name)
{
    FileByteSource source(fd);
    const auto directory = ReadCentralDirectory(source);
    if (!directory)
        return; // LocateArchive has found the end record; BuildTail reports what is wrong
    const ArchiveCheck check = CheckArchive(source, *directory, CheckDetail::Verdicts);
    if (check.Overlapping())
        throw Refusal(name + ": " + check.Overlaps.front());
    if (std::none_of(check.Refused.begin(), check.Refused.end(), [](bool refused) { return refused; }))
        return;
    // The check leaves out entries whose local header disagrees with the directory, which
    // the libraries then refuse one by one; the extractor holds no header against the
    // directory, so those count too (a bomb's records need not repeat the header's name).
    struct Span {
        std::uint64_t start, end;
        std::size_t index;
    };
    const auto &entries = directory->Entries;
    std::vector<Span> spans;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto local = ReadLocalHeader(source, entries[i].LocalOffset);
        if (local && DataEnd(*local, entries[i]) >= local->DataStart
            && DataEnd(*local, entries[i]) <= directory->End.directory_start)
            spans.push_back({entries[i].LocalOffset, DataEnd(*local, entries[i]), i});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.start != b.start ? a.start < b.start : a.index < b.index; });
    for (std::size_t i = 1, furthest = 0; i < spans.size(); ++i) {
        if (spans[i].start < spans[furthest].end) {
            const auto shown = [&](const Span &s) {
                return VisibleName(EntryName(entries[s.index].Name(), entries[s.index].Extra()));
            };
            throw Refusal(name + ": overlapping entries (possible zip bomb): "
                          + NameList({shown(spans[furthest]), shown(spans[i])}));
        }
        if (spans[i].end > spans[furthest].end)
            furthest = i;
    }
}

} // namespace

std::string ExeName(const std::string &zipPath)
{
    return std::filesystem::path(zipPath).filename().stem().string() + ".exe";
}

Written Convert(const std::string &zipPath, const std::string &outDir, std::span<const unsigned char> stub)
{
    Fd fd(::open(zipPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0)
        throw Refusal(zipPath + ": " + Errno(errno));
    // Opened without blocking and refused by its type, so a FIFO or a device is never read.
    if (!S_ISREG(st.st_mode))
        throw Refusal(zipPath + ": not a regular file" + FileKind(st.st_mode));
    const Input in(zipPath, fd.Get(), static_cast<std::uint64_t>(st.st_size));
    const Layout layout = LocateArchive(in, zipPath);
    RefuseOverlaps(fd.Get(), zipPath);
    const Tail tail = BuildTail(in, zipPath, layout, stub.size());

    struct stat dirStat {};
    if (::stat(outDir.c_str(), &dirStat) != 0)
        throw Refusal(outDir + ": " + Errno(errno));
    if (!S_ISDIR(dirStat.st_mode))
        throw Refusal(outDir + ": not a directory");
    const std::filesystem::path dir = std::filesystem::absolute(outDir).lexically_normal();
    Written written;
    written.Path = (dir / ExeName(zipPath)).string();

    OutputFile out(dir.string(), written.Path);
    out.WriteAt(0, stub.data(), stub.size());
    CopyRange(in, zipPath, out, 0, stub.size(), layout.directoryStart);
    std::uint64_t at = stub.size() + layout.directoryStart;
    out.WriteAt(at, tail.directory.data(), tail.directory.size());
    at += tail.directory.size();
    out.WriteAt(at, tail.endRecords.data(), tail.endRecords.size());
    written.Size = at + tail.endRecords.size();
    out.Commit();
    return written;
}

} // namespace pellux::zip2exe
