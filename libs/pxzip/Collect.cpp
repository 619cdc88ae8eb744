#include "libs/pxzip/Collect.h"

#include "libs/common/PxErrors.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace pellux::libs {

namespace {

using FileId = std::pair<dev_t, ino_t>;

constexpr std::size_t kEntriesPerStep = 256;

class Collector {
public:
    Collector(const AddRequest &request, Reporter &reporter) : request_(request), reporter_(reporter)
    {
        struct stat st {};
        if (::stat(request.Archive.c_str(), &st) == 0)
            archive_ = FileId{st.st_dev, st.st_ino};
    }

    void AddPath(const std::string &given)
    {
        if (given.empty())
            return;
        namespace fs = std::filesystem;
        const fs::path absolute = fs::absolute(fs::path(given)).lexically_normal();
        std::string base = absolute.filename().string();
        if (base.empty()) // "/dir/" normalises to "/dir/" with an empty file name
            base = absolute.parent_path().filename().string();
        struct stat st {};
        if (Stat(given, st) != 0) {
            reporter_.Error(errno == ENOENT ? kPxNotMatched : kPxFileError,
                            "name not matched: " + given + " (" + std::strerror(errno) + ")");
            return;
        }
        if (!request_.Hidden && !base.empty() && base[0] == '.') {
            reporter_.Warning("skipping hidden " + given);
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            // The root directory has no name of its own: its contents start at the top.
            const std::string prefix = base.empty() ? std::string() : base + "/";
            if (!request_.Recurse) {
                if (!prefix.empty() && !request_.StripDirNames)
                    Push(given, prefix, st);
                else
                    reporter_.Warning("skipping directory " + given + " (not recursing)");
                return;
            }
            hiddenSkipped_ = 0;
            Walk(given, prefix, st);
            // Named once per tree: a user who sees nothing wonders where the dotfiles went.
            if (hiddenSkipped_ > 0)
                reporter_.Warning("skipping " + std::to_string(hiddenSkipped_) + " hidden file"
                                  + (hiddenSkipped_ == 1 ? "" : "s") + " in " + given);
            return;
        }
        AddFile(given, base, st);
    }

    std::vector<SourceItem> Take() { return std::move(items_); }

private:
    int Stat(const std::string &path, struct stat &st) const
    {
        return request_.StoreLinks ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st);
    }

    void AddFile(const std::string &path, const std::string &name, const struct stat &st)
    {
        if (archive_ && *archive_ == FileId{st.st_dev, st.st_ino})
            return; // never store the archive in itself
        if (S_ISLNK(st.st_mode)) {
            AddLink(path, name, st);
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            reporter_.Warning("skipping " + path + " (not a regular file)");
            return;
        }
        // libzip opens sources only while writing the archive, where a failure would
        // abort everything; an unreadable file is found and left out here.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            reporter_.Error(kPxFileError, "skipping " + path + " (cannot read: " + std::strerror(errno) + ")");
            return;
        }
        ::close(fd);
        Push(path, name, st);
    }

    void AddLink(const std::string &path, const std::string &name, const struct stat &st)
    {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0) + 1, '\0');
        ssize_t n = 0;
        // A link may change between lstat and readlink: read until the target fits.
        while ((n = ::readlink(path.c_str(), target.data(), target.size())) >= static_cast<ssize_t>(target.size()))
            target.resize(target.size() * 2);
        if (n < 0) {
            reporter_.Error(kPxFileError, "skipping " + path + " (cannot read link: " + std::strerror(errno) + ")");
            return;
        }
        target.resize(static_cast<std::size_t>(n));
        struct stat linkStat = st;
        linkStat.st_size = n;
        Push(path, name, linkStat);
        if (!items_.empty() && items_.back().Path == path)
            items_.back().LinkTarget = std::move(target);
    }

    void Walk(const std::string &path, const std::string &prefix, const struct stat &st)
    {
        const FileId id{st.st_dev, st.st_ino};
        if (std::find(openDirs_.begin(), openDirs_.end(), id) != openDirs_.end()) {
            reporter_.Warning("skipping " + path + " (directory loop through a symbolic link)");
            return;
        }
        if (!prefix.empty() && !request_.StripDirNames)
            Push(path, prefix, st);
        DIR *dir = ::opendir(path.c_str());
        if (!dir) {
            reporter_.Error(kPxFileError,
                            "skipping " + path + " (cannot read directory: " + std::strerror(errno) + ")");
            return;
        }
        std::vector<std::string> names;
        while (const dirent *entry = ::readdir(dir)) {
            const char *n = entry->d_name;
            if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0)
                continue;
            if (!request_.Hidden && n[0] == '.') {
                ++hiddenSkipped_;
                continue;
            }
            names.emplace_back(n);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end()); // the same tree gives the same archive

        openDirs_.push_back(id);
        const std::string base = path.back() == '/' ? path : path + "/";
        for (const auto &name : names) {
            // A large tree takes a while to walk before anything is written.
            if (++visited_ % kEntriesPerStep == 0)
                reporter_.Step();
            if (reporter_.Stopped())
                break;
            const std::string child = base + name;
            struct stat childStat {};
            if (Stat(child, childStat) != 0) {
                reporter_.Error(kPxFileError, "skipping " + child + " (" + std::strerror(errno) + ")");
                continue;
            }
            const std::string childName = request_.StripDirNames ? name : prefix + name;
            if (S_ISDIR(childStat.st_mode))
                Walk(child, request_.StripDirNames ? std::string() : childName + "/", childStat);
            else
                AddFile(child, childName, childStat);
        }
        openDirs_.pop_back();
    }

    void Push(const std::string &path, std::string name, const struct stat &st)
    {
        if (request_.ForceDos)
            name = DosName(name);
        if (!names_.insert(name).second) {
            // The first file keeps the name; a second one would silently replace it.
            reporter_.Error(kPxFileError, "skipping " + path + " (name " + name + " already used in this archive)");
            return;
        }
        items_.push_back(SourceItem{path, std::move(name), st});
    }

    const AddRequest &request_;
    Reporter &reporter_;
    std::optional<FileId> archive_;
    std::vector<FileId> openDirs_;
    std::size_t visited_ = 0;
    std::size_t hiddenSkipped_ = 0; // in the tree being walked
    std::set<std::string> names_;
    std::vector<SourceItem> items_;
};

std::string DosComponent(const std::string &component)
{
    static constexpr std::string_view kInvalid = " \"*+,/:;<=>?[\\]|";
    auto clean = [](std::string part, std::size_t max) {
        std::string out;
        for (unsigned char c : part) {
            if (out.size() == max)
                break;
            if (c == '.')
                continue;
            if (c < 0x20 || c >= 0x80 || kInvalid.find(char(c)) != std::string_view::npos)
                out += '_';
            else
                out += char(std::toupper(c));
        }
        return out;
    };
    const auto dot = component.rfind('.');
    std::string base = clean(dot == std::string::npos ? component : component.substr(0, dot), 8);
    const std::string ext = dot == std::string::npos ? std::string() : clean(component.substr(dot + 1), 3);
    if (base.empty())
        base = "_";
    return ext.empty() ? base : base + "." + ext;
}

} // namespace

std::string DosName(const std::string &storedName)
{
    std::string out;
    std::size_t start = 0;
    while (start < storedName.size()) {
        const auto slash = storedName.find('/', start);
        const auto end = slash == std::string::npos ? storedName.size() : slash;
        out += DosComponent(storedName.substr(start, end - start));
        if (slash != std::string::npos)
            out += '/';
        start = end + 1;
    }
    return out;
}

std::vector<SourceItem> CollectSources(const AddRequest &request, Reporter &reporter)
{
    Collector collector(request, reporter);
    for (const auto &given : request.Paths) {
        if (reporter.Stopped())
            break;
        collector.AddPath(given);
    }
    return collector.Take();
}

} // namespace pellux::libs
