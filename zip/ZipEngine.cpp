#include "zip/ZipEngine.h"

#include "platform/UserInteraction.h"
#include "zip/ByteStream.h"
#include "zip/ZipBridge.h"
#include "zip/ZipListReader.h"

#include <algorithm>
#include <memory>
#include <sys/stat.h>

namespace pellux {

namespace {

// A directory is not an archive file: it counts as missing, as a new archive's name does.
bool FileExists(const std::string &name)
{
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

} // namespace

TZipEngine::TZipEngine() { RegisterEngine(this); }

TZipEngine::~TZipEngine()
{
    UnregisterEngine(this);
    ClearDirEntries();
}

void TZipEngine::SetZipFilename(const std::string &name)
{
    // The passwords belong to the archive they opened; re-reading it keeps them.
    if (name != zipFilename_)
        ForgetPasswords();
    zipFilename_ = name;
    if (!Designing)
        List();
}

void TZipEngine::SetNameEncoding(const std::string &encoding)
{
    NameEncoding = encoding;
    if (!zipFilename_.empty())
        List();
}

std::int32_t TZipEngine::EntryCount() const
{
    return zipFilename_.empty() ? 0 : static_cast<std::int32_t>(dirEntries_->size());
}

void TZipEngine::ClearDirEntries()
{
    dirEntries_ = std::make_shared<ZipEntryList>();
    entryWarnings_.clear();
}

void TZipEngine::FireDirUpdate()
{
    if (OnDirUpdate)
        OnDirUpdate(*this);
}

const std::string *TZipEngine::EntryWarning(std::size_t index) const
{
    const auto at = std::lower_bound(entryWarnings_.begin(), entryWarnings_.end(), index,
                                     [](const ListReport::EntryWarning &w, std::size_t i) { return w.Entry < i; });
    return at != entryWarnings_.end() && at->Entry == index ? &at->Why : nullptr;
}

void TZipEngine::List()
{
    if (Designing)
        return;
    ClearDirEntries();
    listWarnings_.clear();
    listDamaged_ = false;
    noArchiveFound_ = false;
    usedNameEncoding_ = "UTF-8";
    if (!FileExists(zipFilename_)) {
        FireDirUpdate();
        return;
    }
    // An open failure leaves before anything was read: no update event.
    auto stream = std::make_unique<BufferedFileStream>(zipFilename_);

    ListOutcome outcome;
    ListReport report;
    // Kept before the update event, whose listing marks the entries; shown after it.
    auto keep = [&] {
        usedNameEncoding_ = report.NameEncoding;
        listWarnings_ = std::move(report.Warnings);
        entryWarnings_ = std::move(report.EntryWarnings);
        listDamaged_ = report.Damaged;
    };
    auto warn = [&] {
        if (!listWarnings_.empty())
            UI().ShowWarnings(listWarnings_);
    };
    try {
        outcome = ReadEntryList(*stream, *dirEntries_, &report, NameEncoding);
        keep();
    } catch (...) {
        keep();
        stream.reset(); // closed before the listing sees what was read
        FireDirUpdate();
        warn();
        throw;
    }
    stream.reset();
    if (outcome == ListOutcome::NoEntries) {
        noArchiveFound_ = !report.EmptyArchive;
        UI().ShowMessage("No valid zip entries found");
    }
    FireDirUpdate();
    warn();
}

} // namespace pellux
