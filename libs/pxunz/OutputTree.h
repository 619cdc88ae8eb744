#pragma once
// The extraction directory as a tree of open directory descriptors. Every step down is
// taken with O_NOFOLLOW, so no symbolic link, whether in the archive or already on
// disk, can carry a write outside the directory.
#include <sys/types.h>

#include <string>
#include <unordered_set>
#include <utility>
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
    // reason in `why` when a step is not a real directory. The tree owns it, until the
    // next call.
    int Directory(const std::vector<std::string> &dirs, std::string *why);
    // Whether the path below the root is a directory all the way, no step a link.
    bool IsRealDirectory(const std::vector<std::string> &dirs) const;
    // Whether this tree created the directory: one that was there before is the user's.
    bool Made(const std::vector<std::string> &dirs) const;

private:
    int OpenStep(int parent, const std::string &name, bool *made, std::string *why);
    // Closes what is held below the first `keep` levels.
    void Release(std::size_t keep);
    // Climbs from the deepest descriptor up to `levels` by "..", as long as each parent
    // is the directory met on the way down (device and inode): false to walk instead.
    bool Climb(std::size_t levels);

    // Descriptors held along the last path walked, so that the next entry, most often in
    // the same folder or one above or below it, opens only what differs. Levels below
    // the held ones keep only the deepest descriptor and their identities: a path may
    // have thousands of levels.
    static constexpr std::size_t kMaxHeld = 64;
    int root_ = -1;
    std::vector<std::string> path_;                // the last path walked
    std::vector<int> held_;                        // held_[i] is the directory path_[0..i]
    int deepest_ = -1;                             // path_'s own descriptor when it lies below the held ones
    std::vector<std::pair<dev_t, ino_t>> deepIds_; // of the levels below the held ones
    std::unordered_set<std::string> made_;
};

} // namespace pellux::libs
