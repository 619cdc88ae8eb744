#include "libs/pxunz/OutputTree.h"

#include "util/ZipRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pellux::libs {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string Joined(const std::vector<std::string> &dirs, std::size_t count)
{
    std::string path;
    for (std::size_t i = 0; i < count; ++i)
        (path += dirs[i]) += '/';
    return path;
}

} // namespace

OutputTree::OutputTree() { root_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

OutputTree::~OutputTree()
{
    Release(0);
    if (root_ >= 0)
        ::close(root_);
}

void OutputTree::Release(std::size_t keep)
{
    if (deepest_ >= 0)
        ::close(deepest_);
    deepest_ = -1;
    while (held_.size() > keep) {
        ::close(held_.back());
        held_.pop_back();
    }
    path_.resize(held_.size());
}

int OutputTree::OpenStep(int parent, const std::string &name, bool *made, std::string *why)
{
    int fd = ::openat(parent, name.c_str(), kDirFlags);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent, name.c_str(), 0777) == 0)
            *made = true;
        else if (errno != EEXIST) {
            *why = "cannot create directory " + VisibleName(name) + ": " + std::strerror(errno);
            return -1;
        }
        fd = ::openat(parent, name.c_str(), kDirFlags);
    }
    if (fd >= 0)
        return fd;
    const int error = errno;
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        *why = "path goes through the symbolic link " + VisibleName(name);
    else if (error == ENOTDIR)
        *why = "path goes through the file " + VisibleName(name);
    else
        *why = "cannot open directory " + VisibleName(name) + ": " + std::strerror(error);
    return -1;
}

int OutputTree::Directory(const std::vector<std::string> &dirs, std::string *why)
{
    if (dirs.empty())
        return root_;
    if (dirs == path_)
        return deepest_ >= 0 ? deepest_ : held_.back();
    const std::size_t common =
        std::mismatch(dirs.begin(), dirs.begin() + static_cast<long>(std::min(dirs.size(), held_.size())),
                      path_.begin())
            .first
        - dirs.begin();
    Release(common);
    int current = common ? held_.back() : root_;
    for (std::size_t i = common; i < dirs.size(); ++i) {
        bool made = false;
        const int next = OpenStep(current, dirs[i], &made, why);
        if (current != root_ && i > kMaxHeld)
            ::close(current); // a passing descriptor below the held ones
        if (next < 0)
            return -1;
        if (made)
            made_.insert(Joined(dirs, i + 1));
        if (i < kMaxHeld) {
            held_.push_back(next);
            path_.push_back(dirs[i]);
        }
        current = next;
    }
    if (dirs.size() > kMaxHeld) {
        deepest_ = current;
        path_ = dirs;
    }
    return current;
}

bool OutputTree::Made(const std::vector<std::string> &dirs) const
{
    return !dirs.empty() && made_.count(Joined(dirs, dirs.size())) > 0;
}

bool OutputTree::IsRealDirectory(const std::vector<std::string> &dirs) const
{
    int current = ::dup(root_);
    for (const auto &name : dirs) {
        if (current < 0)
            return false;
        const int next = ::openat(current, name.c_str(), kDirFlags);
        ::close(current);
        current = next;
    }
    if (current < 0)
        return false;
    ::close(current);
    return true;
}

} // namespace pellux::libs
