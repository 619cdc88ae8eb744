#pragma once
// Turns the paths of an add request into the list of files and directories to
// store, each with its stored name.
#include "libs/common/Reporter.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace pellux::libs {

struct AddRequest {
    std::string Archive;
    std::vector<std::string> Paths;
    int Level = 9;
    bool Hidden = false;
    bool StripDirNames = false;
    bool Recurse = false;
    bool ForceDos = false;
    bool Move = false;
    bool Update = false;
    bool Freshen = false;
    bool ZipTime = false;
    bool Encrypt = false;    // new file entries are AES-256 encrypted
    bool StoreLinks = false; // a symbolic link is stored as a link entry, not followed
};

struct SourceItem {
    std::string Path;       // as found on disk
    std::string Name;       // stored name; directories end in '/'
    struct stat Stat {};    // after following symbolic links, unless stored as a link
    std::string LinkTarget; // of a link stored as one: the entry's data
    bool IsDir() const { return S_ISDIR(Stat.st_mode); }
    bool IsLink() const { return S_ISLNK(Stat.st_mode); }
};

// The items in the order they will be stored: each path in turn, a directory
// before its contents. Problems are reported and the item is left out.
std::vector<SourceItem> CollectSources(const AddRequest &request, Reporter &reporter);

// An 8.3 upper-case form of each component of a stored name.
std::string DosName(const std::string &storedName);

} // namespace pellux::libs
