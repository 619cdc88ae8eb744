#include "libs/pxunz/OutputTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pellux::libs {

OutputTree::OutputTree() { root_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

OutputTree::~OutputTree()
{
    if (cachedFd_ >= 0 && cachedFd_ != root_)
        ::close(cachedFd_);
    if (root_ >= 0)
        ::close(root_);
}

int OutputTree::OpenStep(int parent, const std::string &name, std::string *why)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, name.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
            *why = "cannot create directory " + name + ": " + std::strerror(errno);
            return -1;
        }
        fd = ::openat(parent, name.c_str(), kFlags);
    }
    if (fd >= 0)
        return fd;
    const int error = errno;
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        *why = "path goes through the symbolic link " + name;
    else if (error == ENOTDIR)
        *why = "path goes through the file " + name;
    else
        *why = "cannot open directory " + name + ": " + std::strerror(error);
    return -1;
}

int OutputTree::Directory(const std::vector<std::string> &dirs, std::string *why)
{
    if (dirs.empty())
        return root_;
    if (cachedFd_ >= 0 && dirs == cachedPath_)
        return cachedFd_;
    int current = root_;
    for (const auto &name : dirs) {
        const int next = OpenStep(current, name, why);
        if (current != root_)
            ::close(current);
        if (next < 0)
            return -1;
        current = next;
    }
    if (cachedFd_ >= 0)
        ::close(cachedFd_);
    cachedFd_ = current;
    cachedPath_ = dirs;
    return current;
}

bool OutputTree::IsRealDirectory(const std::vector<std::string> &dirs) const
{
    int current = ::dup(root_);
    for (const auto &name : dirs) {
        if (current < 0)
            return false;
        const int next = ::openat(current, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(current);
        current = next;
    }
    if (current < 0)
        return false;
    ::close(current);
    return true;
}

} // namespace pellux::libs
