#pragma once
// Reads an archive's entry list by walking its local file headers from the front of
// the file. Throws EStreamError with the texts the user reads.
#include "zip/ByteStream.h"
#include "zip/ZipDirEntry.h"

#include <string>
#include <string_view>
#include <vector>

namespace pellux {

enum class ListOutcome {
    Complete,  // the walk reached the central directory or the end record
    NoEntries, // no local header among the first candidates: "No valid zip entries found"
};

// The first local header must start within this many bytes of the front of the file;
// a self-extractor's program stays below it.
inline constexpr int kSignatureCandidateLimit = 60000;

// What the reader found besides the entries.
struct ListReport {
    // Where the local headers and the central directory disagree, and other damage or
    // tampering, one line each, naming the entries.
    std::vector<std::string> Warnings;
    // Among them, one that means extraction will refuse, miss or add entries: the
    // archive is damaged or tampered with. Others only inform (data put in front,
    // counts that are off, names with control characters).
    bool Damaged = false;
    // The entries extraction will refuse, or write otherwise than shown, by their index
    // in the entry list (ascending), each with why, in sentences for the user.
    struct EntryWarning {
        std::size_t Entry;
        std::string Why;
    };
    std::vector<EntryWarning> EntryWarnings;
    // A valid end record and no entries at all: an archive, but empty.
    bool EmptyArchive = false;
    // What the archive's legacy names were read in: "UTF-8" when it holds none, else
    // the code page (see NameChooser).
    std::string NameEncoding = "UTF-8";
};

// Appends the entries to `entries` as they are read, so on an error the entries read
// so far (and, after the fixed part and name were read, the failing one) stay there;
// the report holds what was found before the error.
// `nameEncoding` names the code page of legacy names (an iconv name); empty chooses it
// as extraction does.
ListOutcome ReadEntryList(InputStream &stream, ZipEntryList &entries, ListReport *report = nullptr,
                          std::string_view nameEncoding = {});

} // namespace pellux
