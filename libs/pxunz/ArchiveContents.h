#pragma once
// The entries extraction may write, read before anything is written: from the central
// directory held against the local headers, or, when the directory is missing or
// damaged, from the local headers alone.
#include "util/ZipRecords.h"

#include <string>
#include <vector>

namespace pellux::libs {

struct ArchiveEntry {
    CentralEntry Central; // name, attributes, method, sizes and CRC as extraction takes them
    std::string LocalExtra;
    std::uint64_t DataStart = 0;
    std::string Refused; // why it must not be written; empty when it may
};

struct ArchiveContents {
    KeptBytes NameBytes; // of the entries read from the directory, their names and extra fields
    std::vector<ArchiveEntry> Entries;
    std::vector<std::string> Warnings;
    std::vector<std::string> Errors; // about the archive as a whole; the entries still go
    std::string Fatal;               // nothing at all may be written
    NameDecoding Names;              // how the entries' names read, chosen over all of them
};

// `nameEncoding`: the caller's code page of legacy names, empty for the automatic choice.
ArchiveContents ReadArchiveContents(ByteSource &source, std::string_view nameEncoding = {});

} // namespace pellux::libs
