// The C entry points of libpxunz.so: extracting entries into the current directory, and
// testing them without writing.
#include "abi/PxUnz.h"
#include "libs/common/CBoundary.h"
#include "libs/common/NameRequest.h"
#include "libs/common/ParamBlock.h"
#include "libs/pxunz/ExtractEntries.h"
#include "libs/pxunz/TestEntries.h"

namespace pellux::libs {
namespace {

ExtractRequest Request(const UnzExecParams &params)
{
    ExtractRequest request;
    request.Archive = params.ZipFileNamePtr;
    for (int32_t i = 0; i < params.ArgCount; ++i) {
        if (params.FileNames[i])
            request.Names.emplace_back(params.FileNames[i]);
    }
    request.DirNames = params.DirNamesFlag != 0;
    request.Overwrite = params.OverwriteFlag != 0;
    request.Update = params.UpdateFlag != 0;
    request.Freshen = params.FreshenFlag != 0 && !request.Update;
    request.NameEncoding = AskNameEncoding(params.CallbackProc, params.CallerObject);
    return request;
}

int32_t Exec(const UnzExecParams &params, Reporter &reporter)
{
    if (!ValidParamBlock(params, "libpxunz.so", reporter))
        return 0;
    return ExtractEntries(Request(params), reporter);
}

int32_t Test(const UnzExecParams &params, Reporter &reporter)
{
    if (!ValidParamBlock(params, "libpxunz.so", reporter))
        return 0;
    return TestEntries(Request(params), reporter);
}

} // namespace
} // namespace pellux::libs

PX_EXPORT int32_t PxUnzExec(UnzExecParams *params) { return pellux::libs::ExecCall(params, pellux::libs::Exec); }

PX_EXPORT int32_t PxUnzTest(UnzExecParams *params) { return pellux::libs::ExecCall(params, pellux::libs::Test); }

PX_EXPORT int32_t GetPxUnzVersion(void) { return 100; }
