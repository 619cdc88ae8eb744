#pragma once
// TZipEngine: the one object through which Pellux reads and changes ZIP archives. It
// holds the current archive's name, the entry list read from it, and the options and
// the file names and paths for the next operation. It shows no window: messages go
// through the user-interaction service, read errors leave as EStreamError exceptions.
#include "abi/PxUnz.h"
#include "abi/PxZip.h"
#include "zip/ZipDirEntry.h"
#include "zip/ZipListReader.h"
#include "zip/ZipTypes.h"

#include <cstdint>
#include <exception>
#include <memory>
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
    // File names and paths for the next operation, in the order added, duplicates kept.
    std::vector<std::string> FSpecArgs;
    std::int32_t ProcessedCount = 0;
    std::int32_t AddCompLevel = 9;
    // Add stores symbolic links as links instead of what they point to.
    bool StoreLinks = false;
    // The bytes the running operation's progress steps add up to, as the library
    // announced them; 0 until then. Each OnProgress(ProgrStep) carries in FileSize
    // the bytes done since the previous one (see abi/ZipCallback.h).
    std::uint64_t BytesToDo = 0;

    TNotifyEvent OnDirUpdate;
    TProgressEvent OnProgress;
    TMessageEvent OnMessage;
    // Without it, encrypted entries are refused as they always were.
    TPasswordEvent OnPassword;

    // While a password is set, every Add writes its new entries AES-256 encrypted.
    void SetAddPassword(const Secret &password) { addPassword_ = password; }
    void ClearAddPassword() { addPassword_.Wipe(); }
    bool EncryptsAdded() const { return !addPassword_.Empty(); }
    // The passwords that opened entries of the current archive are kept until it is
    // closed or another one is opened; this forgets them sooner.
    void ForgetPasswords() { passwords_.clear(); }

    // The code page of names stored without the UTF-8 flag (an iconv name such as
    // "CP866"); empty: automatic, from the user's language and the names themselves.
    // The listing reads with it, and the libraries learn it through the callback.
    std::string NameEncoding;
    // Sets NameEncoding and re-reads the open archive with it.
    void SetNameEncoding(const std::string &encoding);
    // What the last listing read legacy names in: "UTF-8" when it held none, else the
    // code page, the one named or the one chosen.
    const std::string &UsedNameEncoding() const { return usedNameEncoding_; }

    // The component's design-time state: nothing is read while it is set.
    bool Designing = false;

    const std::string &ZipFilename() const { return zipFilename_; }
    // Stores the name and re-reads the entry list (also for the same name). An empty
    // name closes the archive. Read errors propagate.
    void SetZipFilename(const std::string &name);

    // Copies the lines; the component never keeps the caller's list.
    void SetFSpecArgs(const std::vector<std::string> &args) { FSpecArgs = args; }

    // The number of entries while an archive name is set, else 0.
    std::int32_t EntryCount() const;
    const ZipEntryList &DirEntries() const { return *dirEntries_; }
    // The same list, kept by whoever holds it also after the next read.
    std::shared_ptr<const ZipEntryList> SharedDirEntries() const { return dirEntries_; }

    // Re-reads DirEntries from ZipFilename and fires OnDirUpdate. What the reader found
    // wrong with the archive is shown once, as warnings.
    void List();
    // From the last read: its warnings, whether they say the archive is damaged or
    // tampered with, and whether the file held no archive at all (an empty archive
    // with a valid end record is one).
    const std::vector<std::string> &ListWarnings() const { return listWarnings_; }
    bool ListDamaged() const { return listDamaged_; }
    // Why extraction will refuse DirEntries()[index], or write it otherwise than shown;
    // null for the entries it writes as listed.
    const std::string *EntryWarning(std::size_t index) const;
    // All of them, by ascending entry index.
    const std::vector<ListReport::EntryWarning> &EntryWarnings() const { return entryWarnings_; }
    bool NoArchiveFound() const { return noArchiveFound_; }

    // The operations. Each takes its input from the properties above, runs one of the
    // two compression libraries and leaves the library's result in ProcessedCount.
    // Preconditions and loading problems are shown as messages; nothing is raised but
    // the re-read's errors after Add and Delete.
    void Add();
    void Delete();
    void Extract();
    // Reads and checks the entries Extract would write (every one when FSpecArgs is
    // empty) without writing; ProcessedCount is how many passed. Not one of the
    // window's commands: pellux-cli test.
    void Test();

    // The blocks handed to the libraries, members of the component (about 16 KB each).
    ::ZipExecParams ZipExecParams{};
    ::UnzExecParams UnzExecParams{};

    // Fill every fixed field of a block from the current properties.
    void SetZipParams();
    void SetUnzParams();

    // Loading and unloading; the state is process-wide, shared by every component.
    void LoadZipLib();
    void LoadUnzLib();
    static void UnloadZipLib();
    static void UnloadUnzLib();
    static void *ZipLibHandle() { return zipLib_.Handle; }
    static void *UnzLibHandle() { return unzLib_.Handle; }
    // Where the libraries are looked for: empty (the default) is the program's own
    // directory, then the system's search order; tests point it elsewhere.
    static void SetLibraryDirectory(const std::string &dir);

    // The callback whose address travels in both blocks. Answers PX_TRUE while the
    // reporting component's Cancel is set.
    static int32_t LibCallback(LibCallbackInfo *info) noexcept;

private:
    struct LibraryState {
        void *Handle = nullptr;
        void *ExecEntry = nullptr;
        void *VersionEntry = nullptr;
        void *TestEntry = nullptr;
    };
    static LibraryState zipLib_;
    static LibraryState unzLib_;

    void ClearDirEntries();
    void FireDirUpdate();
    void Compress(bool deleting);
    void Decompress(bool testing); // Extract, or Test without writing
    void Dispatch(const LibCallbackInfo &info);
    void AnswerPassword(LibCallbackInfo &info);
    void AnswerNameEncoding(LibCallbackInfo &info) const;
    void AddAnnouncedBytes(const std::string &text);
    // Calls the exec entry once per 4097 names; the results add up.
    template <class Params>
    void CallLibrary(Params &params, void *execEntry, const std::string &archivePath);

    std::string zipFilename_;
    Secret addPassword_;
    std::vector<Secret> passwords_;    // given for the current archive, in order
    std::size_t passwordsOffered_ = 0; // of passwords_, in the running library call
    // Never null; a read fills a new list, so that a listing still showing the old one
    // keeps it.
    std::shared_ptr<ZipEntryList> dirEntries_ = std::make_shared<ZipEntryList>();
    std::vector<std::string> listWarnings_;
    std::vector<ListReport::EntryWarning> entryWarnings_; // by ascending entry index
    bool listDamaged_ = false;
    bool noArchiveFound_ = false;
    std::string usedNameEncoding_ = "UTF-8";
};

// The text of a library message as the component hands it on: a CR or LF in the last
// and in the second-to-last position becomes NUL; the length stays.
std::string TrimLineEnd(std::string text);

} // namespace pellux
