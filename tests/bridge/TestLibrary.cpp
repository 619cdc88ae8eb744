// Stand-ins for libpxzip.so / libpxunz.so, built in several kinds (PX_TEST_KIND):
//   1 records: reports every field of the block it got as "Name=value" messages;
//   2 throws from its exec entry;
//   3 has the version entry only;
//   4 has neither entry.
// The recording kind returns ArgCount, or N when the first name is "return:N"; a name
// "file:X" is reported as a file, and the run stops when the answer is "stop".
#include "abi/PxUnz.h"
#include "abi/PxZip.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

[[maybe_unused]] int32_t Send(PxLibCallback callback, void *caller, int32_t action, const std::string &text,
                              int32_t size = 0)
{
    LibCallbackInfo info{};
    info.CallerObject = caller;
    info.ActionCode = action;
    info.FileSize = size;
    std::snprintf(info.Text, sizeof(info.Text), "%s", text.c_str());
    return callback(&info);
}

template <class Params>
[[maybe_unused]] int32_t Record(Params *p)
{
    auto field = [&](const char *name, long long value) {
        Send(p->CallbackProc, p->CallerObject, PX_ACTION_MESSAGE, std::string(name) + "=" + std::to_string(value));
    };
    auto pointer = [&](const char *name, const void *value) {
        char text[64];
        std::snprintf(text, sizeof(text), "%s=%p", name, value);
        Send(p->CallbackProc, p->CallerObject, PX_ACTION_MESSAGE, text);
    };
#define PX_FIELD(f) field(#f, p->f)
    pointer("CallerObject", p->CallerObject);
    pointer("CallbackProc", reinterpret_cast<const void *>(p->CallbackProc));
    PX_FIELD(Handle);
    PX_FIELD(InterfaceVersion);
    PX_FIELD(TraceFlag);
    PX_FIELD(Switch05);
    PX_FIELD(Switch06);
    PX_FIELD(Switch07);
    PX_FIELD(Switch09);
    PX_FIELD(Switch10);
    PX_FIELD(VerboseFlag);
    PX_FIELD(UpdateFlag);
    PX_FIELD(FreshenFlag);
    PX_FIELD(ArgCount);
    PX_FIELD(CheckValue);
    if constexpr (std::is_same_v<Params, ZipExecParams>) {
        PX_FIELD(HiddenFilesFlag);
        PX_FIELD(Switch11);
        PX_FIELD(Switch12);
        PX_FIELD(Switch14);
        PX_FIELD(CompressionLevel);
        PX_FIELD(Switch16);
        PX_FIELD(Switch17);
        PX_FIELD(StripDirNamesFlag);
        PX_FIELD(RecurseFlag);
        PX_FIELD(Switch20);
        PX_FIELD(ForceDosFlag);
        PX_FIELD(MoveFlag);
        PX_FIELD(DeleteEntriesFlag);
        PX_FIELD(Switch26);
        PX_FIELD(ZipTimeFlag);
        field("EncryptFlag", p->EncryptFlag);
        field("StoreLinksFlag", p->StoreLinksFlag);
    } else {
        PX_FIELD(Switch08);
        PX_FIELD(DirNamesFlag);
        PX_FIELD(OverwriteFlag);
        char cwd[4096] = "";
        if (::getcwd(cwd, sizeof(cwd)))
            Send(p->CallbackProc, p->CallerObject, PX_ACTION_MESSAGE, std::string("cwd=") + cwd);
    }
#undef PX_FIELD
    Send(p->CallbackProc, p->CallerObject, PX_ACTION_MESSAGE, std::string("ZipFileName=") + p->ZipFileNamePtr);
    int32_t result = p->ArgCount;
    for (int32_t i = 0; i < p->ArgCount; ++i) {
        const std::string name = p->FileNames[i];
        if (i == 0 && name.rfind("return:", 0) == 0)
            result = std::stoi(name.substr(7));
        if (name.rfind("file:", 0) == 0 && Send(p->CallbackProc, p->CallerObject, PX_ACTION_FILE, name.substr(5), 1))
            return i;
        if (p->ArgCount <= 8)
            Send(p->CallbackProc, p->CallerObject, PX_ACTION_MESSAGE, "FileName=" + name);
    }
    Send(p->CallbackProc, p->CallerObject, PX_ACTION_END, "");
    return result;
}

} // namespace

#if PX_TEST_KIND == 1
EXPORT int32_t PxZipExec(ZipExecParams *p) { return Record(p); }
EXPORT int32_t PxUnzExec(UnzExecParams *p) { return Record(p); }
#elif PX_TEST_KIND == 2
EXPORT int32_t PxZipExec(ZipExecParams *) { throw std::runtime_error("library failure"); }
EXPORT int32_t PxUnzExec(UnzExecParams *) { throw std::runtime_error("library failure"); }
#endif
#if PX_TEST_KIND != 4
EXPORT int32_t GetPxZipVersion() { return 1; }
EXPORT int32_t GetPxUnzVersion() { return 1; }
#else
EXPORT int32_t SomethingElse() { return 0; }
#endif
