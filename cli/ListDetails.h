#pragma once
// What the long and the JSON listing show of an entry beyond the component's entry
// list: mode, times and encryption from the central directory's extra fields and
// attributes, and a link's target from its data. They are read again for the listing
// only, so that the entry list stays small for a million entries.
#include "util/ZipRecords.h"
#include "zip/ZipDirEntry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellux::cli {

struct EntryDetails {
    std::string Method;     // "Stored", "Deflate", ...; the number when unknown
    std::string Encryption; // "none", "ZipCrypto", "AES-128", "AES-192", "AES-256", "AES", "strong"
    std::string Mode;       // "-rw-r--r--", "drwxr-xr-x", "lrwxrwxrwx"
    std::string Mtime;      // ISO 8601 in local time with its offset; empty when none is valid
    bool Link = false;
};

class ListDetails {
public:
    // Opens the archive and reads its central directory; without one, every entry's
    // details come from its local header and its name.
    explicit ListDetails(const std::string &archive);
    ~ListDetails();
    ListDetails(const ListDetails &) = delete;
    ListDetails &operator=(const ListDetails &) = delete;

    EntryDetails Of(const ZipDirEntry &entry);
    // The target of a symbolic link entry; nullopt, with why, when its data cannot be
    // read (encrypted, too long, damaged, or a method other than store and deflate).
    std::optional<std::string> LinkTarget(const ZipDirEntry &entry, std::string *why);

private:
    const CentralEntry *Central(const ZipDirEntry &entry) const;
    const std::string &LocalExtra(const ZipDirEntry &entry);

    int fd_ = -1;
    std::unique_ptr<FileByteSource> source_;
    KeptBytes centralNames_;
    std::vector<CentralEntry> central_;
    std::vector<std::pair<std::uint64_t, std::size_t>> byOffset_; // local offset -> index
    // The local header of the entry asked about last (both calls for one entry read it once).
    std::optional<LocalHeader> local_;
    std::int64_t localOffset_ = -1;
};

} // namespace pellux::cli
