// Add, Delete and Extract: preconditions, busy flags, the library call and the
// re-read of the entry list.
#include "platform/UserInteraction.h"
#include "zip/ZipBridge.h"
#include "zip/ZipEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace pellux {

namespace {

constexpr const char *kFatalLibraryError = "Fatal DLL Error: abort exception";

bool ArchiveFileExists(const std::string &name)
{
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsDirectory(const std::string &name)
{
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The last four characters, ASCII letters lower-cased.
bool EndsInExe(const std::string &name)
{
    std::string tail = name.size() > 4 ? name.substr(name.size() - 4) : name;
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; });
    return tail == ".exe";
}

// Sets a busy flag for the length of an operation and clears it, with Cancel, on
// every way out.
class BusyScope {
public:
    BusyScope(bool &busy, bool &cancel) : busy_(busy), cancel_(cancel)
    {
        busy_ = true;
        cancel_ = false;
    }
    ~BusyScope()
    {
        cancel_ = false;
        busy_ = false;
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &busy_;
    bool &cancel_;
};

// Loads a library for one operation unless one is loaded already, and unloads on the
// way out only what it loaded itself: a caller that loaded it keeps it.
class LibraryUse {
public:
    LibraryUse(TZipEngine &engine, void *(*handle)(), void (TZipEngine::*load)(), void (*unload)())
        : handle_(handle), unload_(unload), loadedHere_(!handle())
    {
        if (loadedHere_)
            (engine.*load)();
    }
    ~LibraryUse()
    {
        if (loadedHere_)
            unload_();
    }
    LibraryUse(const LibraryUse &) = delete;
    LibraryUse &operator=(const LibraryUse &) = delete;

    bool Loaded() const { return handle_() != nullptr; }

private:
    void *(*handle_)();
    void (*unload_)();
    bool loadedHere_;
};

// A NUL-terminated copy of a text, sized to it.
std::unique_ptr<char[]> TextBuffer(const std::string &text)
{
    auto buffer = std::make_unique<char[]>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer.get());
    buffer[text.size()] = '\0';
    return buffer;
}

} // namespace

template <class Params>
void TZipEngine::CallLibrary(Params &params, void *execEntry, const std::string &archivePath)
{
    using Exec = int32_t (*)(Params *);
    const auto archiveBuffer = TextBuffer(archivePath);
    params.ZipFileNamePtr = archiveBuffer.get();
    int32_t total = 0;
    std::size_t next = 0;
    do {
        const std::size_t count = std::min<std::size_t>(FSpecArgs.size() - next, PX_MAX_FILE_NAMES);
        std::vector<std::unique_ptr<char[]>> nameBuffers;
        nameBuffers.reserve(count);
        params.ArgCount = 0;
        for (std::size_t i = 0; i < count; ++i) {
            nameBuffers.push_back(TextBuffer(FSpecArgs[next + i]));
            params.FileNames[params.ArgCount++] = nameBuffers.back().get();
        }
        bool failed = !execEntry;
        if (!failed) {
            try {
                TakeCallbackError();
                passwordsOffered_ = 0;
                const int32_t result = reinterpret_cast<Exec>(execEntry)(&params);
                if (auto error = TakeCallbackError())
                    std::rethrow_exception(error);
                total += result;
                ProcessedCount = total;
            } catch (...) {
                failed = true;
            }
        }
        // No pointer into the freed buffers stays behind in the block.
        std::fill(params.FileNames, params.FileNames + count, nullptr);
        if (failed) {
            UI().ShowMessage(kFatalLibraryError);
            break;
        }
        next += count;
    } while (next < FSpecArgs.size() && !Cancel);
    params.ZipFileNamePtr = nullptr;
}

void TZipEngine::Add() { Compress(false); }

void TZipEngine::Delete() { Compress(true); }

void TZipEngine::Compress(bool deleting)
{
    if (FSpecArgs.empty()) {
        UI().ShowMessage(deleting ? "Error - no files selected for deletion" : "Error - no files to zip");
        return;
    }
    if (deleting ? !ArchiveFileExists(zipFilename_) : zipFilename_.empty()) {
        UI().ShowMessage("Error - no zip file specified");
        return;
    }
    if (EndsInExe(zipFilename_)) {
        UI().ShowMessage(deleting ? "Error - this pgm can NOT delete files from a self-extracting archive"
                                  : "Error - this pgm can NOT add files to a self-extracting archive");
        return;
    }
    if (CompressBusy)
        return;
    {
        BusyScope busy(CompressBusy, Cancel);
        BytesToDo = 0;
        const LibraryUse library(*this, &ZipLibHandle, &TZipEngine::LoadZipLib, &UnloadZipLib);
        if (!library.Loaded())
            return;
        SetZipParams();
        if (deleting) {
            ZipExecParams.DeleteEntriesFlag = PX_TRUE;
            ZipExecParams.Switch20 = PX_FALSE;
            ZipExecParams.StripDirNamesFlag = PX_FALSE;
            ZipExecParams.MoveFlag = PX_FALSE;
            ZipExecParams.FreshenFlag = PX_FALSE;
            ZipExecParams.UpdateFlag = PX_FALSE;
            ZipExecParams.RecurseFlag = PX_FALSE;
            ZipExecParams.EncryptFlag = PX_FALSE;
            ZipExecParams.StoreLinksFlag = PX_FALSE;
        }
        CallLibrary(ZipExecParams, zipLib_.ExecEntry, zipFilename_);
        FSpecArgs.clear();
    }
    if (ProcessedCount > 0)
        List();
}

void TZipEngine::Extract() { Decompress(false); }

void TZipEngine::Test() { Decompress(true); }

void TZipEngine::Decompress(bool testing)
{
    if (ExtractBusy)
        return;
    BusyScope busy(ExtractBusy, Cancel);
    BytesToDo = 0;
    const LibraryUse library(*this, &UnzLibHandle, &TZipEngine::LoadUnzLib, &UnloadUnzLib);
    if (!library.Loaded())
        return;
    std::string archivePath = zipFilename_;
    if (testing) {
        if (!unzLib_.TestEntry) {
            UI().ShowMessage("PxUnzTest function not found in libpxunz.so");
            return;
        }
    } else {
        // A relative archive name is meant from where the caller stands, not from the
        // extraction directory about to become current.
        if (!archivePath.empty() && archivePath.front() != '/') {
            std::error_code error;
            const auto absolute = std::filesystem::absolute(archivePath, error);
            if (!error)
                archivePath = absolute.string();
        }
        if (IsDirectory(ExtrBaseDir))
            (void)::chdir(ExtrBaseDir.c_str());
    }
    SetUnzParams();
    CallLibrary(UnzExecParams, testing ? unzLib_.TestEntry : unzLib_.ExecEntry, archivePath);
    FSpecArgs.clear();
}

} // namespace pellux
