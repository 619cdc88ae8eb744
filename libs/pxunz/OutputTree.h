#pragma once
// The extraction directory as a tree of open directory descriptors. Every step down is
// taken with O_NOFOLLOW, so no symbolic link, whether in the archive or already on
// disk, can carry a write outside the directory.
#include <string>
#include <vector>

namespace pellux::libs {

class OutputTree {
public:
    OutputTree(); // the process's current directory
    ~OutputTree();
    OutputTree(const OutputTree &) = delete;
    OutputTree &operator=(const OutputTree &) = delete;

    bool Ok() const { return root_ >= 0; }
    // The descriptor of the directory below the root, created as needed; -1 with the
    // reason in `why` when a step is not a real directory. The tree owns it.
    int Directory(const std::vector<std::string> &dirs, std::string *why);
    // Whether the path below the root is a directory all the way, no step a link.
    bool IsRealDirectory(const std::vector<std::string> &dirs) const;

private:
    int OpenStep(int parent, const std::string &name, std::string *why);

    int root_ = -1;
    // The last directory used: entries of one folder usually follow each other.
    std::vector<std::string> cachedPath_;
    int cachedFd_ = -1;
};

} // namespace pellux::libs
