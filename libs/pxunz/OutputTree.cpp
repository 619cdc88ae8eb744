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
    deepIds_.clear();
    while (held_.size() > keep) {
        ::close(held_.back());
        held_.pop_back();
    }
    path_.resize(held_.size());
}

bool OutputTree::Climb(std::size_t levels)
{
    while (path_.size() > levels) {
        const std::size_t up = path_.size() - 1;
        int parent = -1;
        if (up > held_.size()) {
            parent = ::openat(deepest_, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat st {};
            const auto expected = deepIds_[deepIds_.size() - 2];
            if (parent < 0 || ::fstat(parent, &st) != 0 || st.st_dev != expected.first
                || st.st_ino != expected.second) {
                if (parent >= 0)
                    ::close(parent);
                return false;
            }
        }
        ::close(deepest_);
        deepest_ = parent;
        deepIds_.pop_back();
        path_.pop_back();
    }
    return true;
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
    if (dirs != path_) {
        const std::size_t shared = std::min(dirs.size(), path_.size());
        const std::size_t common = static_cast<std::size_t>(
            std::mismatch(dirs.begin(), dirs.begin() + static_cast<std::ptrdiff_t>(shared), path_.begin()).first
            - dirs.begin());
        if (common <= held_.size() || !Climb(common))
            Release(std::min(common, held_.size()));
        for (std::size_t i = path_.size(); i < dirs.size(); ++i) {
            const int parent = deepest_ >= 0 ? deepest_ : held_.empty() ? root_ : held_.back();
            bool made = false;
            const int next = OpenStep(parent, dirs[i], &made, why);
            if (next < 0)
                return -1;
            if (made)
                made_.insert(Joined(dirs, i + 1));
            path_.push_back(dirs[i]);
            if (deepest_ < 0 && held_.size() < kMaxHeld) {
                held_.push_back(next);
                continue;
            }
            struct stat st {};
            ::fstat(next, &st);
            if (deepest_ >= 0)
                ::close(deepest_);
            deepest_ = next;
            deepIds_.emplace_back(st.st_dev, st.st_ino);
        }
    }
    return deepest_ >= 0 ? deepest_ : held_.back();
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
