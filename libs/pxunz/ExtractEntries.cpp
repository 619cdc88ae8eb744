#include "libs/pxunz/ExtractEntries.h"

#include "libs/common/ArchiveFile.h"
#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"
#include "libs/pxunz/OutputTree.h"
#include "libs/pxunz/SafePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>

namespace pellux::libs {

namespace {

// One read and one write per step report: the caller hears of each chunk written.
constexpr std::size_t kBufferSize = Reporter::kStepBytes;
constexpr zip_uint64_t kMaxLinkTarget = 4096;

struct Discard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct FileClose {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

struct DirMetadata {
    std::vector<std::string> Dirs;
    unsigned Mode;
    std::time_t Mtime;
};

enum class Outcome { Written, Failed, Cancelled };

// A name no archive entry can take: the data lands here first and is renamed at the end.
std::string TempName()
{
    static std::atomic<unsigned> counter{0};
    return ".pxunz-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

class Extractor {
public:
    Extractor(const ExtractRequest &request, Reporter &reporter, zip_t *archive)
        : request_(request), reporter_(reporter), archive_(archive), buffer_(new char[kBufferSize])
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        defaultFileMode_ = 0666 & ~mask;
    }

    bool Ready() const { return tree_.Ok(); }

    std::int32_t Run()
    {
        const std::set<std::string> wanted(request_.Names.begin(), request_.Names.end());
        std::set<std::string> matched;
        const zip_int64_t count = zip_get_num_entries(archive_, 0);
        if (reporter_.Total(BytesToWrite(wanted, count)))
            return 0;
        for (zip_int64_t i = 0; i < count && !reporter_.Stopped(); ++i) {
            const auto index = static_cast<zip_uint64_t>(i);
            const char *raw = zip_get_name(archive_, index, ZIP_FL_ENC_RAW);
            if (!raw)
                continue;
            if (!wanted.empty()) {
                if (!wanted.count(raw))
                    continue;
                matched.insert(raw);
            }
            Entry(index, raw);
        }
        for (const auto &name : wanted) {
            if (!matched.count(name))
                reporter_.Error(kPxNotMatched, "name not matched: " + name);
        }
        RestoreDirectories();
        return written_;
    }

private:
    // The data of the wanted files: what the steps will add up to unless some are
    // skipped.
    zip_uint64_t BytesToWrite(const std::set<std::string> &wanted, zip_int64_t count)
    {
        zip_uint64_t bytes = 0;
        for (zip_int64_t i = 0; i < count; ++i) {
            const auto index = static_cast<zip_uint64_t>(i);
            const char *raw = zip_get_name(archive_, index, ZIP_FL_ENC_RAW);
            zip_stat_t stat;
            if (!raw || (!wanted.empty() && !wanted.count(raw)) || zip_stat_index(archive_, index, 0, &stat) != 0
                || !(stat.valid & ZIP_STAT_SIZE))
                continue;
            const std::string_view name(raw);
            const auto mode = UnixMode(archive_, index);
            if (name.empty() || name.back() == '/' || name.back() == '\\' || (mode && !S_ISREG(*mode)))
                continue;
            bytes += stat.size;
        }
        return bytes;
    }

    void Entry(zip_uint64_t index, const std::string &raw)
    {
        zip_stat_t stat;
        if (zip_stat_index(archive_, index, 0, &stat) != 0) {
            reporter_.Error(kPxArchiveError, "cannot read entry " + raw + ": " + ArchiveError(archive_));
            return;
        }
        const std::string name = DiskName(archive_, index, raw);
        const auto mode = UnixMode(archive_, index);
        const bool isDir = (!raw.empty() && (raw.back() == '/' || raw.back() == '\\')) || (mode && S_ISDIR(*mode));
        const bool isLink = !isDir && mode && S_ISLNK(*mode);
        std::string why;
        auto safe =
            MakeSafeName(isDir && !name.empty() && name.back() != '/' ? name + "/" : name, request_.DirNames, &why);
        if (!safe) {
            reporter_.Error(kPxUnsafeName, "skipping " + name + ": " + why);
            return;
        }
        const std::time_t mtime = EntryMtime(archive_, index, stat);
        if (isDir) {
            if (!request_.DirNames)
                return;
            if (tree_.Directory(safe->Dirs, &why) < 0) {
                reporter_.Error(kPxUnsafeName, "skipping " + name + ": " + why);
                return;
            }
            dirs_.push_back(DirMetadata{safe->Dirs, mode ? *mode : 0u, mtime});
            return;
        }
        if (stat.encryption_method != ZIP_EM_NONE) {
            reporter_.Error(kPxUnsupported, "skipping " + name + ": encrypted");
            return;
        }
        if (!zip_compression_method_supported(stat.comp_method, 0)) {
            reporter_.Error(kPxUnsupported,
                            "skipping " + name + ": unsupported compression method "
                                + std::to_string(stat.comp_method));
            return;
        }
        if (isLink && !request_.DirNames)
            safe->Dirs.clear();
        const int dir = tree_.Directory(safe->Dirs, &why);
        if (dir < 0) {
            reporter_.Error(kPxUnsafeName, "skipping " + name + ": " + why);
            return;
        }
        if (!MayWrite(dir, safe->Leaf, name, mtime))
            return;
        if (reporter_.File(name, stat.size))
            return;
        const Outcome outcome =
            isLink ? WriteLink(index, dir, *safe, name) : WriteFile(index, dir, safe->Leaf, name, mode, mtime);
        if (outcome == Outcome::Written)
            ++written_;
    }

    bool MayWrite(int dir, const std::string &leaf, const std::string &name, std::time_t mtime)
    {
        struct stat existing {};
        if (::fstatat(dir, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0)
            return !request_.Freshen;
        if (S_ISDIR(existing.st_mode)) {
            reporter_.Error(kPxFileError, "skipping " + name + ": a directory of that name exists");
            return false;
        }
        // Freshen and update replace older files; the request itself is the consent.
        if (request_.Update || request_.Freshen)
            return mtime > existing.st_mtime;
        if (!request_.Overwrite) {
            reporter_.Warning(name + " exists, not overwritten");
            return false;
        }
        return true;
    }

    Outcome WriteFile(zip_uint64_t index, int dir, const std::string &leaf, const std::string &name,
                      std::optional<unsigned> mode, std::time_t mtime)
    {
        std::unique_ptr<zip_file_t, FileClose> in(zip_fopen_index(archive_, index, 0));
        if (!in) {
            reporter_.Error(kPxDataError, "cannot read " + name + ": " + ArchiveError(archive_));
            return Outcome::Failed;
        }
        const std::string temp = TempName();
        const int fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            reporter_.Error(kPxFileError, "cannot create " + name + ": " + std::strerror(errno));
            return Outcome::Failed;
        }
        auto abandon = [&](Outcome outcome) {
            ::close(fd);
            ::unlinkat(dir, temp.c_str(), 0);
            return outcome;
        };
        for (;;) {
            const zip_int64_t got = zip_fread(in.get(), buffer_.get(), kBufferSize);
            if (got < 0) {
                reporter_.Error(kPxDataError, "cannot extract " + name + ": " + zip_file_strerror(in.get()));
                return abandon(Outcome::Failed);
            }
            if (got == 0)
                break;
            if (!WriteAll(fd, buffer_.get(), static_cast<std::size_t>(got))) {
                reporter_.Error(kPxFileError, "cannot write " + name + ": " + std::strerror(errno));
                return abandon(Outcome::Failed);
            }
            if (reporter_.Advance(static_cast<zip_uint64_t>(got)))
                return abandon(Outcome::Cancelled);
        }
        // Never set-uid, set-gid or sticky: only the permission bits travel.
        const mode_t permissions = mode ? static_cast<mode_t>(*mode & 0777) : defaultFileMode_;
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ::fchmod(fd, permissions);
        ::futimens(fd, times);
        if (::close(fd) != 0) {
            reporter_.Error(kPxFileError, "cannot write " + name + ": " + std::strerror(errno));
            ::unlinkat(dir, temp.c_str(), 0);
            return Outcome::Failed;
        }
        if (::renameat(dir, temp.c_str(), dir, leaf.c_str()) != 0) {
            reporter_.Error(kPxFileError, "cannot create " + name + ": " + std::strerror(errno));
            ::unlinkat(dir, temp.c_str(), 0);
            return Outcome::Failed;
        }
        return Outcome::Written;
    }

    Outcome WriteLink(zip_uint64_t index, int dir, const SafeName &safe, const std::string &name)
    {
        std::unique_ptr<zip_file_t, FileClose> in(zip_fopen_index(archive_, index, 0));
        std::string target;
        while (in) {
            const zip_int64_t got = zip_fread(in.get(), buffer_.get(), kBufferSize);
            if (got < 0) {
                reporter_.Error(kPxDataError, "cannot extract " + name + ": " + zip_file_strerror(in.get()));
                return Outcome::Failed;
            }
            if (got == 0)
                break;
            target.append(buffer_.get(), static_cast<std::size_t>(got));
            if (target.size() > kMaxLinkTarget)
                break;
        }
        if (!in || target.size() > kMaxLinkTarget || target.find('\0') != std::string::npos) {
            reporter_.Error(kPxDataError, "skipping " + name + ": not a valid symbolic link");
            return Outcome::Failed;
        }
        if (!LinkTargetStaysInside(safe.Dirs, target)) {
            reporter_.Error(kPxUnsafeName, "skipping " + name + ": symbolic link points outside (" + target + ")");
            return Outcome::Failed;
        }
        const std::string temp = TempName();
        if (::symlinkat(target.c_str(), dir, temp.c_str()) != 0
            || ::renameat(dir, temp.c_str(), dir, safe.Leaf.c_str()) != 0) {
            reporter_.Error(kPxFileError, "cannot create " + name + ": " + std::strerror(errno));
            ::unlinkat(dir, temp.c_str(), 0);
            return Outcome::Failed;
        }
        return Outcome::Written;
    }

    static bool WriteAll(int fd, const char *data, std::size_t size)
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

    // Directory times and modes last: writing files into them changes the times, and a
    // read-only mode would stop the writing.
    void RestoreDirectories()
    {
        std::stable_sort(dirs_.begin(), dirs_.end(),
                         [](const DirMetadata &a, const DirMetadata &b) { return a.Dirs.size() > b.Dirs.size(); });
        for (const auto &dir : dirs_) {
            std::string why;
            const int fd = tree_.Directory(dir.Dirs, &why);
            if (fd < 0)
                continue;
            const timespec times[2] = {{dir.Mtime, 0}, {dir.Mtime, 0}};
            if (dir.Mode)
                ::fchmod(fd, static_cast<mode_t>(dir.Mode & 0777));
            if (dir.Mtime)
                ::futimens(fd, times);
        }
    }

    const ExtractRequest &request_;
    Reporter &reporter_;
    zip_t *archive_;
    OutputTree tree_;
    std::unique_ptr<char[]> buffer_;
    mode_t defaultFileMode_ = 0644;
    std::vector<DirMetadata> dirs_;
    std::int32_t written_ = 0;
};

} // namespace

std::int32_t ExtractEntries(const ExtractRequest &request, Reporter &reporter)
{
    int error = 0;
    std::unique_ptr<zip_t, Discard> archive(OpenArchive(request.Archive, ZIP_RDONLY, &error));
    if (!archive) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + ErrorText(error));
        return 0;
    }
    Extractor extractor(request, reporter, archive.get());
    if (!extractor.Ready()) {
        reporter.Error(kPxFileError, std::string("cannot open the extraction directory: ") + std::strerror(errno));
        return 0;
    }
    return extractor.Run();
}

} // namespace pellux::libs
