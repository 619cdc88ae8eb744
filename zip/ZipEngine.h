#pragma once
// TZipEngine: the one object through which Pellux reads and changes ZIP archives. It
// holds the current archive's name, the entry list read from it, and the options and
// file specifications for the next operation. It shows no window: messages go through
// the user-interaction service, read errors leave as EStreamError exceptions.
#include "zip/ZipDirEntry.h"
#include "zip/ZipTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pellux {

class TZipEngine {
public:
    TZipEngine();
    ~TZipEngine();
    TZipEngine(const TZipEngine &) = delete;
    TZipEngine &operator=(const TZipEngine &) = delete;

    bool Verbose = false;
    bool Trace = false;
    std::string ExtrBaseDir;
    // While true the library callback asks the library to stop.
    bool Cancel = false;
    bool CompressBusy = false;
    bool ExtractBusy = false;
    AddOpts AddOptions;
    ExtrOpts ExtrOptions;
    // File specifications for the next operation, in the order added, duplicates kept.
    std::vector<std::string> FSpecArgs;
    std::int32_t ProcessedCount = 0;
    std::int32_t AddCompLevel = 9;

    TNotifyEvent OnDirUpdate;
    TProgressEvent OnProgress;
    TMessageEvent OnMessage;

    // The component's design-time state: nothing is read while it is set.
    bool Designing = false;

    const std::string &ZipFilename() const { return zipFilename_; }
    // Stores the name and re-reads the entry list (also for the same name). An empty
    // name closes the archive. Read errors propagate.
    void SetZipFilename(const std::string &name);

    // Copies the lines; the component never keeps the caller's list.
    void SetFSpecArgs(const std::vector<std::string> &specs) { FSpecArgs = specs; }

    // The number of entries while an archive name is set, else 0.
    std::int32_t EntryCount() const;
    const std::vector<ZipDirEntry> &DirEntries() const { return dirEntries_; }

    // Re-reads DirEntries from ZipFilename and fires OnDirUpdate.
    void List();

private:
    void ClearDirEntries();
    void FireDirUpdate();

    std::string zipFilename_;
    std::vector<ZipDirEntry> dirEntries_;
};

} // namespace pellux
