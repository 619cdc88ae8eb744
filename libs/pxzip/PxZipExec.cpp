// The C entry points of libpxzip.so: adding files to an archive and deleting entries.
#include "abi/PxZip.h"
#include "libs/common/CBoundary.h"
#include "libs/common/ParamBlock.h"
#include "libs/pxzip/AddFiles.h"
#include "libs/pxzip/DeleteEntries.h"

namespace pellux::libs {
namespace {

bool Flag(int32_t value) { return value != 0; }

std::vector<std::string> Paths(const ZipExecParams &params)
{
    std::vector<std::string> paths;
    for (int32_t i = 0; i < params.ArgCount; ++i) {
        if (params.FileNames[i])
            paths.emplace_back(params.FileNames[i]);
    }
    return paths;
}

int32_t Exec(const ZipExecParams &params, Reporter &reporter)
{
    if (!ValidParamBlock(params, "libpxzip.so", reporter))
        return 0;
    if (Flag(params.DeleteEntriesFlag))
        return DeleteEntries(params.ZipFileNamePtr, Paths(params), reporter);

    AddRequest request;
    request.Archive = params.ZipFileNamePtr;
    request.Paths = Paths(params);
    request.Level = params.CompressionLevel;
    request.Hidden = Flag(params.HiddenFilesFlag);
    request.StripDirNames = Flag(params.StripDirNamesFlag);
    request.Recurse = Flag(params.RecurseFlag);
    request.ForceDos = Flag(params.ForceDosFlag);
    request.Move = Flag(params.MoveFlag);
    request.Update = Flag(params.UpdateFlag);
    request.Freshen = Flag(params.FreshenFlag) && !request.Update;
    request.ZipTime = Flag(params.ZipTimeFlag);
    request.Encrypt = Flag(params.EncryptFlag);
    request.StoreLinks = Flag(params.StoreLinksFlag);
    return AddFiles(request, reporter);
}

} // namespace
} // namespace pellux::libs

PX_EXPORT int32_t PxZipExec(ZipExecParams *params) { return pellux::libs::ExecCall(params, pellux::libs::Exec); }

PX_EXPORT int32_t GetPxZipVersion(void) { return 100; }
