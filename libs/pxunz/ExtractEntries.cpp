#include "libs/pxunz/ExtractEntries.h"

#include "libs/common/DosTime.h"
#include "libs/common/PxErrors.h"
#include "libs/pxunz/ArchiveContents.h"
#include "libs/pxunz/Decoder.h"
#include "libs/pxunz/Encryption.h"
#include "libs/pxunz/EntryData.h"
#include "libs/pxunz/OutputTree.h"
#include "util/ArchiveFile.h"
#include "util/ExtractionPlan.h"
#include "util/LittleEndian.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace pellux::libs {

namespace {

struct DirMetadata {
    std::vector<std::string> Dirs;
    unsigned Mode;
    std::time_t Mtime;
};

// Links are made once every file is written: each directory a target leaves by ".."
// must be there, and real, when its link is checked.
struct PendingLink {
    std::vector<std::string> Dirs;
    std::string Leaf;
    std::string Target;
    std::string Name;
    std::time_t Mtime;
};

enum class Outcome { Written, Failed, Cancelled };

// A name no archive entry is likely to take and nobody can guess ahead: where a file
// cannot be made unnamed, and for links, the data lands here first and is renamed.
std::string TempName()
{
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
        static std::atomic<std::uint64_t> counter{0};
        bits = (static_cast<std::uint64_t>(::getpid()) << 32) ^ counter++ ^ static_cast<std::uint64_t>(::time(nullptr));
    }
    char name[32];
    std::snprintf(name, sizeof name, ".pxunz-%016llx.tmp", static_cast<unsigned long long>(bits));
    return name;
}

// A file being written: unnamed (O_TMPFILE) where the file system allows it, so nothing
// half-written ever shows in the directory; else under a random temporary name.
struct PendingFile {
    int Fd = -1;
    std::string Temp; // empty while unnamed
};

PendingFile CreatePending(int dir, mode_t permissions)
{
    PendingFile file;
    file.Fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions);
    if (file.Fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return file;
    do {
        file.Temp = TempName();
        file.Fd = ::openat(dir, file.Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
    } while (file.Fd < 0 && errno == EEXIST);
    return file;
}

void Discard(int dir, const PendingFile &file)
{
    if (!file.Temp.empty())
        ::unlinkat(dir, file.Temp.c_str(), 0);
}

// Gives the written file its name, replacing whatever had it. An unnamed file is linked
// straight in when the name is free; else it takes a temporary name and is renamed.
bool Publish(int dir, PendingFile &file, const std::string &leaf)
{
    if (file.Temp.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(file.Fd);
        auto link = [&](const std::string &name) {
            return ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0
                || (errno == ENOENT && ::linkat(file.Fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0);
        };
        if (link(leaf))
            return true;
        if (errno != EEXIST)
            return false;
        for (;;) {
            file.Temp = TempName();
            if (link(file.Temp))
                break;
            if (errno != EEXIST) {
                file.Temp.clear();
                return false;
            }
        }
    }
    return ::renameat(dir, file.Temp.c_str(), dir, leaf.c_str()) == 0;
}

bool DiskFull(int error) { return error == ENOSPC || error == EFBIG || error == EDQUOT; }

// The extended timestamp's modification time (UTC) when present, else the NTFS one,
// else the DOS time.
std::time_t EntryMtime(const ArchiveEntry &entry)
{
    const std::string_view extras[] = {entry.Central.Extra(), entry.LocalExtra};
    for (const std::string_view extra : extras) {
        // Flags byte, then the modification time when bit 0 is set: unsigned, as other
        // readers take it, so dates after January 2038 stay in the future.
        const auto field = FindExtraField(extra, kExtraTimestamp);
        if (field && field->size() >= 5 && ((*field)[0] & 1))
            return static_cast<std::time_t>(le::U32(reinterpret_cast<const unsigned char *>(field->data()) + 1));
    }
    for (const std::string_view extra : extras) {
        // 4 reserved bytes, then tagged attributes; tag 1 (24 bytes) holds the
        // modification, access and creation times in 100 ns units since 1601 (UTC).
        const auto field = FindExtraField(extra, 0x000A);
        if (!field)
            continue;
        const auto *p = reinterpret_cast<const unsigned char *>(field->data());
        for (std::size_t at = 4; at + 4 <= field->size();) {
            const std::size_t size = le::U16(p + at + 2);
            if (le::U16(p + at) == 1 && size >= 24 && at + 4 + 24 <= field->size()) {
                constexpr std::uint64_t kTicks = 10000000, kFrom1601 = 11644473600;
                const std::uint64_t ticks = le::U64(p + at + 4);
                return static_cast<std::time_t>(static_cast<std::int64_t>(ticks / kTicks)
                                                - static_cast<std::int64_t>(kFrom1601));
            }
            at += 4 + size;
        }
    }
    return DosDateTimeToTime(entry.Central.DosDateTime);
}

bool WriteAll(int fd, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies an entry's data into the sink; `restart` empties what the sink took, for a
// password tried after another.
using ReadData = std::function<CopyOutcome(const DataSink &sink, const std::function<void()> &restart)>;

// Many small files: the file system's making of each one (its inode above all) costs
// far more than decoding it, and two can be made at once. Such files are decoded ahead
// on the extraction's thread into memory and written by two writer threads; the
// extraction's thread then reports them, names them and counts them in entry order.
constexpr std::uint64_t kQueuedUpTo = 1 << 20;
// Fewer small files than this go the plain way: two threads would cost more than they save.
constexpr std::size_t kQueueFrom = 64;
// Decoded ahead at most: what a cancel or a full disk throws away.
constexpr std::size_t kMaxQueued = 16;
constexpr std::uint64_t kMaxQueuedBytes = 16 << 20;

struct QueuedFile {
    // Set before it is queued.
    int Dir = -1; // the output tree's, held unchanged while files are queued
    std::string Leaf;
    std::string Name;
    mode_t Permissions = 0;
    std::time_t Mtime = 0;
    std::uint64_t Size = 0;
    std::vector<unsigned char> Data;
    std::vector<std::uint64_t> Steps; // the progress decoding it made, reported when it is
    CopyOutcome Decoded;
    // Set by the writer; read once Done.
    PendingFile Pending;
    int CreateError = 0;
    int WriteError = 0;
    std::uint64_t Written = 0;
    bool Done = false;
};

class FileWriters {
public:
    explicit FileWriters(mode_t umask) : umask_(umask)
    {
        for (int i = 0; i < 2; ++i)
            threads_.emplace_back([this] { Run(); });
    }

    ~FileWriters()
    {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        work_.notify_all();
        for (auto &thread : threads_)
            thread.join();
    }

    FileWriters(const FileWriters &) = delete;
    FileWriters &operator=(const FileWriters &) = delete;

    void Queue(QueuedFile *file)
    {
        {
            const std::lock_guard lock(mutex_);
            waiting_.push_back(file);
        }
        work_.notify_one();
    }

    void Wait(QueuedFile &file)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return file.Done; });
    }

    // Files not yet begun stay unwritten: the extraction is over.
    void Skip()
    {
        {
            const std::lock_guard lock(mutex_);
            for (QueuedFile *file : waiting_)
                file->Done = true;
            waiting_.clear();
        }
        done_.notify_all();
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return quit_ || !waiting_.empty(); });
            if (waiting_.empty())
                return;
            QueuedFile *file = waiting_.front();
            waiting_.pop_front();
            lock.unlock();
            Write(*file);
            lock.lock();
            file->Done = true;
            done_.notify_all();
        }
    }

    // Leaves the file complete but unnamed (or under its temporary name), times and mode
    // set; naming it is the extraction thread's, in entry order.
    void Write(QueuedFile &file) const
    {
        if (file.Decoded.Result != CopyResult::Done)
            return;
        try {
            file.Pending = CreatePending(file.Dir, file.Permissions);
        } catch (...) {
            errno = ENOMEM;
            file.Pending.Fd = -1;
        }
        const int fd = file.Pending.Fd;
        if (fd < 0) {
            file.CreateError = errno;
            return;
        }
        for (std::size_t at = 0; at < file.Data.size() && file.WriteError == 0;) {
            const std::size_t n = std::min<std::size_t>(file.Data.size() - at, Reporter::kStepBytes);
            if (WriteAll(fd, file.Data.data() + at, n))
                file.Written += n;
            else
                file.WriteError = errno;
            at += n;
        }
        std::vector<unsigned char>().swap(file.Data);
        if (file.WriteError != 0)
            return;
        const timespec times[2] = {{file.Mtime, 0}, {file.Mtime, 0}};
        if (file.Permissions & umask_)
            ::fchmod(fd, file.Permissions);
        ::futimens(fd, times);
    }

    const mode_t umask_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::deque<QueuedFile *> waiting_;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

// Takes the progress an entry decoded ahead makes, to be reported once the entry is.
std::int32_t RecordStep(LibCallbackInfo *info)
{
    if (info->ActionCode == PX_ACTION_STEP && info->FileSize > 0)
        static_cast<std::vector<std::uint64_t> *>(info->CallerObject)
            ->push_back(static_cast<std::uint64_t>(info->FileSize));
    return 0;
}

class Extractor {
public:
    Extractor(const ExtractRequest &request, Reporter &reporter, ByteSource &source)
        : request_(request), reporter_(reporter), source_(source), copier_(reporter), book_(reporter),
          recorder_(&RecordStep, &recorded_), aheadCopier_(recorder_)
    {
        umask_ = ::umask(0);
        ::umask(umask_);
        defaultFileMode_ = 0666 & ~umask_;
    }

    // An exception on the way: what is queued is written, or skipped, and then thrown away.
    ~Extractor()
    {
        if (writers_) {
            writers_->Skip();
            for (auto &file : queued_) {
                writers_->Wait(*file);
                Abandon(*file);
            }
        }
    }

    Extractor(const Extractor &) = delete;
    Extractor &operator=(const Extractor &) = delete;

    bool Ready() const { return tree_.Ok(); }

    std::int32_t Run(const ArchiveContents &contents)
    {
        const std::set<std::string, std::less<>> wanted(request_.Names.begin(), request_.Names.end());
        std::set<std::string, std::less<>> matched;
        std::vector<const ArchiveEntry *> chosen;
        for (const auto &entry : contents.Entries) {
            if (!wanted.empty()) {
                if (!wanted.count(entry.Central.Name()))
                    continue;
                matched.emplace(entry.Central.Name());
            }
            chosen.push_back(&entry);
        }
        const std::vector<bool> earlier = EarlierCopies(chosen, contents.Names);
        if (reporter_.Total(BytesToWrite(chosen, earlier)))
            return 0;
        const auto small = std::count_if(chosen.begin(), chosen.end(), [](const ArchiveEntry *entry) {
            return entry->Central.UncompressedSize <= kQueuedUpTo && !IsDirectoryEntry(entry->Central);
        });
        if (static_cast<std::size_t>(small) >= kQueueFrom)
            writers_ = std::make_unique<FileWriters>(umask_);
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            if (reporter_.Stopped() || diskFull_)
                break;
            if (!earlier[i] && Queue(*chosen[i], contents.Names))
                continue;
            // Whatever else this entry does, and reports, comes after the queued files.
            if (!queued_.empty()) {
                Drain();
                if (reporter_.Stopped() || diskFull_)
                    break;
                if (!earlier[i] && Queue(*chosen[i], contents.Names))
                    continue;
            }
            if (earlier[i])
                reporter_.Warning("skipping " + VisibleName(contents.Names.Name(chosen[i]->Central))
                                  + ": a later entry of the same name is extracted instead");
            else
                Entry(*chosen[i], contents.Names);
        }
        Drain();
        if (!skippedEncrypted_.empty())
            reporter_.Error(kPxUnsupported, SkippedEncryptedText(skippedEncrypted_));
        for (const auto &name : wanted) {
            if (!matched.count(name))
                reporter_.Error(kPxNotMatched, "name not matched: " + name);
        }
        if (!reporter_.Stopped() && !diskFull_)
            MakeLinks();
        RestoreDirectories();
        return written_;
    }

private:
    // The data of the wanted files: what the steps will add up to unless some are
    // skipped. Encrypted ones count when a password can be asked for.
    std::uint64_t BytesToWrite(const std::vector<const ArchiveEntry *> &entries, const std::vector<bool> &earlier) const
    {
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ArchiveEntry *entry = entries[i];
            if (earlier[i])
                continue;
            const auto mode = UnixMode(entry->Central);
            const CipherKind cipher = CipherOf(*entry).Kind;
            const bool readable =
                cipher == CipherKind::None || (reporter_.CanAsk() && cipher != CipherKind::Unsupported);
            if (entry->Refused.empty() && !IsDirectoryEntry(entry->Central) && readable && !(mode && !S_ISREG(*mode)))
                bytes += entry->Central.UncompressedSize;
        }
        return bytes;
    }

    // The files that another, later one of the same path replaces: only the last of them
    // is written, whether or not existing files are overwritten.
    std::vector<bool> EarlierCopies(const std::vector<const ArchiveEntry *> &chosen, const NameDecoding &names) const
    {
        auto pathOf = [&](std::size_t i) {
            const CentralEntry &central = chosen[i]->Central;
            if (!chosen[i]->Refused.empty() || IsDirectoryEntry(central))
                return std::string();
            const Landing landing = LandingOf(central, names.Name(central), request_.DirNames);
            return landing.Safe ? LandingPath(*landing.Safe) : std::string();
        };
        std::vector<std::uint64_t> hashes(chosen.size(), 0);
        for (std::size_t i = 0; i < chosen.size(); ++i)
            if (const std::string path = pathOf(i); !path.empty())
                hashes[i] = LandingHash(path);
        return EarlierNamesakes(hashes, pathOf);
    }

    void Entry(const ArchiveEntry &entry, const NameDecoding &names)
    {
        const CentralEntry &central = entry.Central;
        std::string name = names.Name(central);
        const std::string shown = VisibleName(name);
        if (!entry.Refused.empty()) {
            reporter_.Error(kPxArchiveError, "skipping " + shown + ": " + entry.Refused);
            return;
        }
        const Landing landing = LandingOf(central, name, request_.DirNames);
        if (!landing.Drive.empty())
            reporter_.Warning(shown + ": drive prefix " + landing.Drive + " removed");
        const auto mode = UnixMode(central);
        const bool isDir = IsDirectoryEntry(central);
        const bool isLink = IsLinkEntry(central);
        std::string why = landing.Why;
        auto safe = landing.Safe;
        if (!safe) {
            reporter_.Error(kPxUnsafeName, "skipping " + shown + ": " + why);
            return;
        }
        const std::time_t mtime = EntryMtime(entry);
        if (isDir) {
            if (!request_.DirNames)
                return;
            if (tree_.Directory(safe->Dirs, &why) < 0) {
                reporter_.Error(kPxUnsafeName, "skipping " + shown + ": " + why);
                return;
            }
            dirs_.push_back(DirMetadata{safe->Dirs, mode ? *mode : 0u, mtime});
            return;
        }
        const EntryCipher cipher = CipherOf(entry);
        if (cipher.Kind == CipherKind::Unsupported) {
            reporter_.Error(kPxUnsupported, "skipping " + shown + ": encrypted (unsupported encryption)");
            return;
        }
        if (cipher.Kind != CipherKind::None) {
            switch (book_.First(shown)) {
            case PasswordBook::Start::Given:
                break;
            case PasswordBook::Start::Declined:
                skippedEncrypted_.push_back(shown);
                return;
            case PasswordBook::Start::Unanswered:
                reporter_.Error(kPxUnsupported, "skipping " + shown + ": encrypted");
                return;
            case PasswordBook::Start::Stopped:
                return;
            }
        }
        const EntryData data = PlainEntryData(entry, cipher);
        auto decoder = MakeDecoder({data.Method, central.Flags, central.UncompressedSize});
        if (!decoder) {
            reporter_.Error(kPxUnsupported, "skipping " + shown + ": " + UnsupportedMethod(data.Method));
            return;
        }
        // Called once, before this entry is done with.
        const ReadData read = [&](const DataSink &sink, const std::function<void()> &restart) {
            if (cipher.Kind == CipherKind::None)
                return copier_.Copy(source_, data, *decoder, sink);
            bool again = false;
            return ReadEncrypted(source_, entry, cipher, book_, shown, std::move(decoder),
                                 [&](ByteSource &plain, const EntryData &deciphered, Decoder &fresh) {
                                     if (std::exchange(again, true))
                                         restart();
                                     return copier_.Copy(plain, deciphered, fresh, sink);
                                 });
        };
        if (isLink) {
            ReadLink(read, central.UncompressedSize, std::move(*safe), shown, mtime);
            return;
        }
        const int dir = tree_.Directory(safe->Dirs, &why);
        if (dir < 0) {
            reporter_.Error(kPxUnsafeName, "skipping " + shown + ": " + why);
            return;
        }
        if (!MayWrite(dir, safe->Leaf, shown, mtime))
            return;
        if (reporter_.File(shown, central.UncompressedSize))
            return;
        if (WriteFile(read, dir, safe->Leaf, shown, mode, mtime) == Outcome::Written)
            ++written_;
    }

    enum class Existing { Write, Skip, Tell };

    // Tell: skipped, and the user hears why from MayWrite.
    Existing CheckExisting(int dir, const std::string &leaf, std::time_t mtime, struct stat *existing) const
    {
        if (::fstatat(dir, leaf.c_str(), existing, AT_SYMLINK_NOFOLLOW) != 0)
            return request_.Freshen ? Existing::Skip : Existing::Write;
        if (S_ISDIR(existing->st_mode))
            return Existing::Tell;
        // Freshen and update replace older files; the request itself is the consent.
        if (request_.Update || request_.Freshen)
            return mtime > existing->st_mtime ? Existing::Write : Existing::Skip;
        return request_.Overwrite ? Existing::Write : Existing::Tell;
    }

    bool MayWrite(int dir, const std::string &leaf, const std::string &name, std::time_t mtime)
    {
        struct stat existing {};
        const Existing check = CheckExisting(dir, leaf, mtime, &existing);
        if (check != Existing::Tell)
            return check == Existing::Write;
        if (S_ISDIR(existing.st_mode))
            reporter_.Error(kPxFileError, "skipping " + name + ": a directory of that name exists");
        else
            reporter_.Warning(name + " exists, not overwritten");
        return false;
    }

    // A write that failed for want of space ends the whole extraction: every later
    // entry would fail the same way.
    void WriteError(const std::string &name, int error)
    {
        if (DiskFull(error)) {
            diskFull_ = true;
            reporter_.Error(kPxFileError,
                            "cannot write " + name + ": " + std::strerror(error) + "; extraction stopped");
        } else {
            reporter_.Error(kPxFileError, "cannot write " + name + ": " + std::strerror(error));
        }
    }

    Outcome WriteFile(const ReadData &read, int dir, const std::string &leaf, const std::string &name,
                      std::optional<unsigned> mode, std::time_t mtime)
    {
        // Never set-uid, set-gid or sticky: only the permission bits travel. Created with
        // them, the file needs no fchmod unless the umask takes some away.
        const mode_t permissions = mode ? static_cast<mode_t>(*mode & 0777) : defaultFileMode_;
        PendingFile pending = CreatePending(dir, permissions);
        const int fd = pending.Fd;
        if (fd < 0) {
            const int error = errno;
            if (DiskFull(error))
                WriteError(name, error);
            else
                reporter_.Error(kPxFileError, "cannot create " + name + ": " + std::strerror(error));
            return Outcome::Failed;
        }
        auto abandon = [&](Outcome outcome) {
            ::close(fd);
            Discard(dir, pending);
            return outcome;
        };
        int writeError = 0;
        const auto sink = [&](const unsigned char *p, std::size_t n) {
            if (writeError == 0 && WriteAll(fd, p, n))
                return true;
            if (writeError == 0)
                writeError = errno;
            return false;
        };
        const auto restart = [&] {
            if (writeError == 0 && (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0))
                writeError = errno;
        };
        const CopyOutcome copy = read(sink, restart);
        switch (copy.Result) {
        case CopyResult::Done:
            break;
        case CopyResult::BadData:
            reporter_.Error(kPxDataError, "cannot extract " + name + ": " + copy.Why);
            return abandon(Outcome::Failed);
        case CopyResult::WriteFailed:
            WriteError(name, writeError);
            return abandon(Outcome::Failed);
        case CopyResult::Cancelled:
            return abandon(Outcome::Cancelled);
        case CopyResult::WrongPassword:
            reporter_.Error(kPxDataError, "wrong password for " + name);
            return abandon(Outcome::Failed);
        }
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        if (permissions & umask_)
            ::fchmod(fd, permissions);
        ::futimens(fd, times);
        return Name(dir, pending, leaf, name);
    }

    // The last step of a file written in full: it gets its name, and its descriptor is
    // closed either way.
    Outcome Name(int dir, PendingFile &pending, const std::string &leaf, const std::string &name)
    {
        // Named while still open: linking an unnamed file needs its descriptor.
        const bool published = Publish(dir, pending, leaf);
        const int publishError = errno;
        if (::close(pending.Fd) != 0 && published) {
            WriteError(name, errno);
            ::unlinkat(dir, leaf.c_str(), 0);
            return Outcome::Failed;
        }
        if (!published) {
            reporter_.Error(kPxFileError, "cannot create " + name + ": " + std::strerror(publishError));
            Discard(dir, pending);
            return Outcome::Failed;
        }
        return Outcome::Written;
    }

    // Queues a small plain file that reports nothing before it is written: decoded here,
    // made by a writer. False for any other entry, with nothing reported or written.
    bool Queue(const ArchiveEntry &entry, const NameDecoding &names)
    {
        const CentralEntry &central = entry.Central;
        if (!writers_ || !entry.Refused.empty() || IsDirectoryEntry(central) || IsLinkEntry(central)
            || central.UncompressedSize > kQueuedUpTo)
            return false;
        const EntryCipher cipher = CipherOf(entry);
        if (cipher.Kind != CipherKind::None)
            return false;
        const std::string name = names.Name(central);
        Landing landing = LandingOf(central, name, request_.DirNames);
        if (!landing.Safe || !landing.Drive.empty())
            return false;
        SafeName &safe = *landing.Safe;
        // The queued files' directory stays open, and nothing queued can be in the way of
        // a directory still to be made: another directory waits until they are done.
        if (!queued_.empty() && safe.Dirs != queuedDirs_)
            return false;
        const EntryData data = PlainEntryData(entry, cipher);
        auto decoder = MakeDecoder({data.Method, central.Flags, central.UncompressedSize});
        if (!decoder)
            return false;
        std::string why;
        const int dir = tree_.Directory(safe.Dirs, &why);
        if (dir < 0)
            return false;
        const std::time_t mtime = EntryMtime(entry);
        struct stat existing {};
        switch (CheckExisting(dir, safe.Leaf, mtime, &existing)) {
        case Existing::Write:
            break;
        case Existing::Skip:
            return true;
        case Existing::Tell:
            return false;
        }
        auto file = std::make_unique<QueuedFile>();
        file->Dir = dir;
        file->Leaf = std::move(safe.Leaf);
        file->Name = VisibleName(name);
        const auto mode = UnixMode(central);
        file->Permissions = mode ? static_cast<mode_t>(*mode & 0777) : defaultFileMode_;
        file->Mtime = mtime;
        file->Size = central.UncompressedSize;
        file->Data.reserve(static_cast<std::size_t>(central.UncompressedSize));
        recorded_.clear();
        file->Decoded = aheadCopier_.Copy(source_, data, *decoder, [&](const unsigned char *p, std::size_t n) {
            file->Data.insert(file->Data.end(), p, p + n);
            return true;
        });
        recorder_.End();
        file->Steps = recorded_;
        if (queued_.empty())
            queuedDirs_ = std::move(safe.Dirs);
        queuedBytes_ += file->Size;
        queued_.push_back(std::move(file));
        writers_->Queue(queued_.back().get());
        while (!queued_.empty() && (queued_.size() > kMaxQueued || queuedBytes_ > kMaxQueuedBytes)
               && !reporter_.Stopped() && !diskFull_)
            RetireOldest();
        return true;
    }

    // Reports the oldest queued file as if it had been written the plain way, and names it.
    void RetireOldest()
    {
        const std::unique_ptr<QueuedFile> file = std::move(queued_.front());
        queued_.pop_front();
        queuedBytes_ -= file->Size;
        writers_->Wait(*file);
        if (reporter_.Stopped() || diskFull_ || Retire(*file) != Outcome::Written) {
            Abandon(*file);
            if (reporter_.Stopped() || diskFull_)
                writers_->Skip();
        }
    }

    void Drain()
    {
        while (!queued_.empty())
            RetireOldest();
    }

    // Written means named; anything else leaves the file to be abandoned.
    Outcome Retire(QueuedFile &file)
    {
        if (reporter_.File(file.Name, file.Size))
            return Outcome::Cancelled;
        if (file.CreateError != 0) {
            if (DiskFull(file.CreateError))
                WriteError(file.Name, file.CreateError);
            else
                reporter_.Error(kPxFileError, "cannot create " + file.Name + ": " + std::strerror(file.CreateError));
            return Outcome::Failed;
        }
        // As the plain way would: the steps of the bytes written, up to a failed write.
        std::uint64_t reported = 0;
        for (const std::uint64_t step : file.Steps) {
            if (file.WriteError != 0 && reported + step > file.Written)
                break;
            reported += step;
            if (reporter_.Advance(step))
                return Outcome::Cancelled;
        }
        if (file.Decoded.Result != CopyResult::Done) {
            reporter_.Error(kPxDataError, "cannot extract " + file.Name + ": " + file.Decoded.Why);
            return Outcome::Failed;
        }
        if (file.WriteError != 0) {
            WriteError(file.Name, file.WriteError);
            return Outcome::Failed;
        }
        const Outcome outcome = Name(file.Dir, file.Pending, file.Leaf, file.Name);
        file.Pending.Fd = -1;
        if (outcome == Outcome::Written)
            ++written_;
        return outcome;
    }

    static void Abandon(QueuedFile &file)
    {
        if (file.Pending.Fd < 0)
            return;
        ::close(file.Pending.Fd);
        file.Pending.Fd = -1;
        Discard(file.Dir, file.Pending);
    }

    void ReadLink(const ReadData &read, std::uint64_t size, SafeName safe, const std::string &name, std::time_t mtime)
    {
        std::string target;
        CopyOutcome copy{CopyResult::BadData, "its target is too long"};
        if (size <= kMaxLinkTarget)
            copy = read(
                [&](const unsigned char *p, std::size_t n) {
                    target.append(reinterpret_cast<const char *>(p), n);
                    return true;
                },
                [&] { target.clear(); });
        if (copy.Result == CopyResult::Cancelled)
            return;
        if (copy.Result == CopyResult::WrongPassword) {
            reporter_.Error(kPxDataError, "wrong password for " + name);
            return;
        }
        if (copy.Result != CopyResult::Done || target.empty() || target.find('\0') != std::string::npos) {
            reporter_.Error(kPxDataError,
                            "skipping " + name + ": not a valid symbolic link"
                                + (copy.Why.empty() ? std::string() : " (" + copy.Why + ")"));
            return;
        }
        links_.push_back(PendingLink{std::move(safe.Dirs), std::move(safe.Leaf), std::move(target), name, mtime});
    }

    void MakeLinks()
    {
        for (const auto &link : links_) {
            if (reporter_.Stopped())
                return;
            const auto passes = LinkTargetPath(link.Dirs, link.Target);
            if (!passes) {
                reporter_.Error(kPxUnsafeName,
                                "skipping " + link.Name + ": symbolic link points outside (" + link.Target + ")");
                continue;
            }
            const auto notReal = std::find_if(passes->begin(), passes->end(),
                                              [&](const auto &dirs) { return !tree_.IsRealDirectory(dirs); });
            if (notReal != passes->end()) {
                std::string path;
                for (const auto &part : *notReal)
                    path += (path.empty() ? "" : "/") + part;
                reporter_.Error(kPxUnsafeName,
                                "skipping " + link.Name + ": its target (" + link.Target + ") passes through " + path
                                    + ", which is not a directory");
                continue;
            }
            std::string why;
            const int dir = tree_.Directory(link.Dirs, &why);
            if (dir < 0) {
                reporter_.Error(kPxUnsafeName, "skipping " + link.Name + ": " + why);
                continue;
            }
            if (!MayWrite(dir, link.Leaf, link.Name, link.Mtime) || reporter_.File(link.Name, link.Target.size()))
                continue;
            const std::string temp = TempName();
            if (::symlinkat(link.Target.c_str(), dir, temp.c_str()) != 0
                || ::renameat(dir, temp.c_str(), dir, link.Leaf.c_str()) != 0) {
                reporter_.Error(kPxFileError, "cannot create " + link.Name + ": " + std::strerror(errno));
                ::unlinkat(dir, temp.c_str(), 0);
                continue;
            }
            ++written_;
        }
    }

    // Directory times and modes last: writing files into them changes the times, and a
    // read-only mode would stop the writing. Deepest first, so that a locked parent
    // does not keep its children from theirs.
    void RestoreDirectories()
    {
        std::stable_sort(dirs_.begin(), dirs_.end(),
                         [](const DirMetadata &a, const DirMetadata &b) { return a.Dirs.size() > b.Dirs.size(); });
        for (const auto &dir : dirs_) {
            // A directory that was there before is the user's: an archive changes it only
            // when overwriting, and never opens it to others or locks its owner out.
            const bool existed = !tree_.Made(dir.Dirs);
            if (existed && !request_.Overwrite)
                continue;
            std::string why;
            const int fd = tree_.Directory(dir.Dirs, &why);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0)
                continue;
            mode_t mode = static_cast<mode_t>(dir.Mode & 0777);
            if (existed)
                mode = (mode & ~(0022 & ~st.st_mode)) | (st.st_mode & 07700);
            const timespec times[2] = {{dir.Mtime, 0}, {dir.Mtime, 0}};
            if (dir.Mode && (st.st_mode & 07777) != mode)
                ::fchmod(fd, mode);
            if (dir.Mtime)
                ::futimens(fd, times);
        }
    }

    const ExtractRequest &request_;
    Reporter &reporter_;
    ByteSource &source_;
    EntryCopier copier_;
    PasswordBook book_;
    std::vector<std::string> skippedEncrypted_; // declined at the first request
    OutputTree tree_;
    mode_t umask_ = 022;
    mode_t defaultFileMode_ = 0644;
    std::vector<DirMetadata> dirs_;
    std::vector<PendingLink> links_;
    std::int32_t written_ = 0;
    bool diskFull_ = false;
    // Small files decoded ahead, in entry order, and their writers.
    std::vector<std::uint64_t> recorded_;
    Reporter recorder_;
    EntryCopier aheadCopier_;
    std::unique_ptr<FileWriters> writers_;
    std::deque<std::unique_ptr<QueuedFile>> queued_;
    std::vector<std::string> queuedDirs_;
    std::uint64_t queuedBytes_ = 0;
};

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::int32_t ExtractEntries(const ExtractRequest &request, Reporter &reporter)
{
    std::string why;
    const Descriptor archive(OpenArchiveFile(request.Archive, &why));
    if (archive.Get() < 0) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + why);
        return 0;
    }
    FileByteSource file(archive.Get());
    ReadAheadSource source(file);
    // Everything about the archive is known before the first byte is written.
    const ArchiveContents contents = ReadArchiveContents(source, request.NameEncoding);
    if (!contents.Fatal.empty()) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + contents.Fatal);
        return 0;
    }
    for (const auto &warning : contents.Warnings)
        reporter.Warning(request.Archive + ": " + warning);
    for (const auto &error : contents.Errors)
        reporter.Error(kPxArchiveError, request.Archive + ": " + error);
    Extractor extractor(request, reporter, source);
    if (!extractor.Ready()) {
        reporter.Error(kPxFileError, std::string("cannot open the extraction directory: ") + std::strerror(errno));
        return 0;
    }
    return extractor.Run(contents);
}

} // namespace pellux::libs
