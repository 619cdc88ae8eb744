// The bridge to the two compression libraries: loading, the parameter blocks and the
// callback through which the libraries report.
#include "zip/ZipBridge.h"

#include "platform/Exceptions.h"
#include "platform/ProgramPath.h"
#include "platform/UserInteraction.h"
#include "zip/ZipEngine.h"

#include <dlfcn.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <set>

namespace pellux {

TZipEngine::LibraryState TZipEngine::zipLib_;
TZipEngine::LibraryState TZipEngine::unzLib_;

namespace {

std::string &LibraryDirectory()
{
    static std::string dir;
    return dir;
}

std::set<TZipEngine *> &Engines()
{
    static std::set<TZipEngine *> engines;
    return engines;
}

std::exception_ptr &PendingCallbackError()
{
    static std::exception_ptr error;
    return error;
}

int32_t Flag(bool value) { return value ? PX_TRUE : PX_FALSE; }

// The fields both blocks carry alike: who calls, how to call back, how much to say.
template <class Params>
void SetSharedParams(Params &p, TZipEngine *engine, bool trace, bool verbose)
{
    p.Handle = 0;
    p.CallerObject = engine;
    p.InterfaceVersion = PX_INTERFACE_VERSION;
    p.CallbackProc = &TZipEngine::LibCallback;
    p.TraceFlag = Flag(trace);
    p.VerboseFlag = Flag(verbose || trace);
    p.CheckValue = PX_CHECK_VALUE;
}

struct LibraryNames {
    const char *File;
    const char *Exec;
    const char *Version;
    const char *Loaded;
    const char *Test; // libpxunz.so's test entry, looked up quietly; Test() names it if missing
};

constexpr LibraryNames kZipNames{"libpxzip.so", "PxZipExec", "GetPxZipVersion", "ZIP DLL Loaded", nullptr};
constexpr LibraryNames kUnzNames{"libpxunz.so", "PxUnzExec", "GetPxUnzVersion", "UNZ DLL Loaded", "PxUnzTest"};

// The libraries live beside the program. The program's directory is named outright:
// RUNPATH $ORIGIN only applies when dlopen's caller is the program itself, which a
// sanitizer's interceptor is not. Elsewhere the system's search order decides.
std::string LibraryPath(const char *file)
{
    std::string dir = LibraryDirectory();
    if (dir.empty()) {
        dir = DirectoryPart(ProgramFilePath());
        if (dir.empty() || ::access((dir + "/" + file).c_str(), F_OK) != 0)
            return file;
    }
    return dir + "/" + file;
}

template <class State>
void Load(State &state, const LibraryNames &names, bool trace)
{
    void *&handle = state.Handle;
    void *&execEntry = state.ExecEntry;
    void *&versionEntry = state.VersionEntry;
    handle = ::dlopen(LibraryPath(names.File).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        UI().ShowMessage(std::string(names.File) + " not found");
        return;
    }
    if (trace)
        UI().ShowMessage(names.Loaded);
    execEntry = ::dlsym(handle, names.Exec);
    versionEntry = ::dlsym(handle, names.Version);
    state.TestEntry = names.Test ? ::dlsym(handle, names.Test) : nullptr;
    if (!execEntry)
        UI().ShowMessage(std::string(names.Exec) + " function not found in " + names.File);
    if (!versionEntry)
        UI().ShowMessage(std::string(names.Version) + " function not found in " + names.File);
}

void Unload(void *&handle)
{
    if (handle)
        ::dlclose(handle);
    handle = nullptr;
}

} // namespace

void RegisterEngine(TZipEngine *engine) { Engines().insert(engine); }
void UnregisterEngine(TZipEngine *engine) { Engines().erase(engine); }

std::exception_ptr TakeCallbackError()
{
    auto error = PendingCallbackError();
    PendingCallbackError() = nullptr;
    return error;
}

void TZipEngine::SetLibraryDirectory(const std::string &dir) { LibraryDirectory() = dir; }

void TZipEngine::LoadZipLib() { Load(zipLib_, kZipNames, Trace); }
void TZipEngine::LoadUnzLib() { Load(unzLib_, kUnzNames, Trace); }
void TZipEngine::UnloadZipLib() { Unload(zipLib_.Handle); }
void TZipEngine::UnloadUnzLib() { Unload(unzLib_.Handle); }

void TZipEngine::SetZipParams()
{
    auto &p = ZipExecParams;
    SetSharedParams(p, this, Trace, Verbose);
    p.Switch05 = PX_FALSE;
    p.Switch07 = PX_FALSE;
    p.HiddenFilesFlag = Flag(AddOptions.Contains(AddHiddenFiles));
    p.Switch09 = PX_FALSE;
    p.Switch10 = PX_FALSE;
    p.Switch11 = PX_TRUE;
    p.Switch12 = PX_FALSE;
    p.Switch14 = PX_TRUE;
    p.CompressionLevel = AddCompLevel;
    p.Switch16 = PX_FALSE;
    p.Switch17 = PX_FALSE;
    p.StripDirNamesFlag = Flag(!AddOptions.Contains(AddDirNames));
    p.RecurseFlag = Flag(AddOptions.Contains(AddRecurseDirs));
    p.Switch20 = PX_TRUE;
    p.ForceDosFlag = Flag(AddOptions.Contains(AddForceDOS));
    p.MoveFlag = Flag(AddOptions.Contains(AddMove));
    p.DeleteEntriesFlag = PX_FALSE;
    p.UpdateFlag = Flag(AddOptions.Contains(AddUpdate));
    p.FreshenFlag = Flag(AddOptions.Contains(AddFreshen));
    if (p.UpdateFlag)
        p.FreshenFlag = PX_FALSE;
    p.Switch26 = PX_FALSE;
    p.ZipTimeFlag = Flag(AddOptions.Contains(AddZipTime));
    p.EncryptFlag = Flag(EncryptsAdded());
    p.StoreLinksFlag = Flag(StoreLinks);
}

void TZipEngine::SetUnzParams()
{
    auto &p = UnzExecParams;
    SetSharedParams(p, this, Trace, Verbose);
    p.Switch06 = PX_FALSE;
    p.Switch07 = PX_FALSE;
    p.Switch08 = PX_FALSE;
    p.Switch09 = PX_FALSE;
    p.Switch10 = PX_TRUE;
    p.UpdateFlag = Flag(ExtrOptions.Contains(ExtrUpdate));
    p.FreshenFlag = Flag(ExtrOptions.Contains(ExtrFreshen));
    if (p.UpdateFlag)
        p.FreshenFlag = PX_FALSE;
    p.DirNamesFlag = Flag(ExtrOptions.Contains(ExtrDirNames));
    p.OverwriteFlag = Flag(ExtrOptions.Contains(ExtrOverWrite));
}

std::string TrimLineEnd(std::string text)
{
    const std::size_t length = text.size();
    auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };
    if (length >= 1 && isLineEnd(text[length - 1]))
        text[length - 1] = '\0';
    if (length > 1 && isLineEnd(text[length - 2]))
        text[length - 2] = '\0';
    return text;
}

// A step's text, when there is one, announces the bytes of the call in decimal. Calls
// split over several exec calls announce once each.
void TZipEngine::AddAnnouncedBytes(const std::string &text)
{
    std::uint64_t bytes = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size())
        BytesToDo += bytes;
}

void TZipEngine::Dispatch(const LibCallbackInfo &info)
{
    const std::string text(info.Text, ::strnlen(info.Text, sizeof(info.Text)));
    switch (info.ActionCode) {
    case PX_ACTION_FILE:
        if (OnProgress)
            OnProgress(*this, ProgrFile, text, info.FileSize);
        break;
    case PX_ACTION_STEP:
        AddAnnouncedBytes(text);
        if (OnProgress)
            OnProgress(*this, ProgrStep, " ", info.FileSize);
        break;
    case PX_ACTION_END:
        if (OnProgress)
            OnProgress(*this, ProgrEnd, " ", 0);
        break;
    case PX_ACTION_MESSAGE:
        if (OnMessage)
            OnMessage(*this, info.ErrorCode, TrimLineEnd(text));
        break;
    default:
        break;
    }
}

// Each library call is offered the passwords that opened entries of this archive
// before, in order, and only then is the user asked. An engine without a handler leaves
// the request unanswered, so the library refuses encrypted entries as it always did.
void TZipEngine::AnswerPassword(LibCallbackInfo &info)
{
    const Secret *answer = nullptr;
    Secret asked;
    if (info.ErrorCode == PX_PASSWORD_NEW) {
        if (!addPassword_.Empty())
            answer = &addPassword_;
    } else if (passwordsOffered_ < passwords_.size()) {
        answer = &passwords_[passwordsOffered_++];
    } else if (OnPassword) {
        const std::string entry(info.Text, ::strnlen(info.Text, sizeof(info.Text)));
        if (OnPassword(*this, entry, info.ErrorCode == PX_PASSWORD_AGAIN, asked) && !asked.Empty()) {
            passwords_.push_back(asked);
            passwordsOffered_ = passwords_.size();
            answer = &passwords_.back();
        }
    } else {
        return;
    }
    ::explicit_bzero(info.Text, sizeof(info.Text));
    if (!answer || answer->Text().size() >= sizeof(info.Text)) {
        info.FileSize = PX_PASSWORD_DECLINED;
        return;
    }
    std::memcpy(info.Text, answer->Text().data(), answer->Text().size());
    info.FileSize = PX_PASSWORD_GIVEN;
}

// Unanswered, the library chooses as the listing does; a name too long for the record
// cannot be an encoding's.
void TZipEngine::AnswerNameEncoding(LibCallbackInfo &info) const
{
    if (NameEncoding.empty() || NameEncoding.size() >= sizeof(info.Text))
        return;
    std::memcpy(info.Text, NameEncoding.c_str(), NameEncoding.size() + 1);
    info.FileSize = PX_ENCODING_GIVEN;
}

int32_t TZipEngine::LibCallback(LibCallbackInfo *info) noexcept
{
    auto *engine = info ? static_cast<TZipEngine *>(info->CallerObject) : nullptr;
    if (!engine || !Engines().count(engine)) {
        PendingCallbackError() = std::make_exception_ptr(Exception("Invalid class typecast"));
        return PX_TRUE;
    }
    try {
        if (info->ActionCode == PX_ACTION_PASSWORD)
            engine->AnswerPassword(*info);
        else if (info->ActionCode == PX_ACTION_NAME_ENCODING)
            engine->AnswerNameEncoding(*info);
        else
            engine->Dispatch(*info);
    } catch (...) {
        // A handler's error must not unwind through the library; stop it instead.
        PendingCallbackError() = std::current_exception();
        return PX_TRUE;
    }
    return engine->Cancel ? PX_TRUE : PX_FALSE;
}

} // namespace pellux
