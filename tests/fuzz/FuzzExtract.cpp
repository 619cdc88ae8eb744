// Feeds arbitrary bytes to extraction as an archive file and extracts it into a fresh
// directory, through the library's entry point. Refusals and errors are expected;
// crashes, hangs, sanitizer reports and files outside the directory are not.
#include "abi/PxUnz.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fs = std::filesystem;

extern "C" int32_t PxUnzExec(UnzExecParams *params); // libs/pxunz/PxUnzExec.cpp, linked in

namespace {

fs::path g_base; // holds the archive and the extraction directory, removed at exit

int32_t Quiet(LibCallbackInfo *) { return PX_FALSE; }

void RemoveBase() { fs::remove_all(g_base); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string base = (fs::temp_directory_path() / "pellux-fuzz-XXXXXX").string();
    if (!::mkdtemp(base.data()))
        std::abort();
    g_base = base;
    std::atexit(RemoveBase);
    // A bomb writes until a write fails (EFBIG), as on a small disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fs::path archive = g_base / "in.zip";
    const fs::path out = g_base / "out";
    std::ofstream(archive, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    fs::create_directory(out);
    std::string archivePath = archive.string();
    auto params = std::make_unique<UnzExecParams>();
    params->InterfaceVersion = PX_INTERFACE_VERSION;
    params->CallbackProc = Quiet;
    params->DirNamesFlag = PX_TRUE;
    params->OverwriteFlag = PX_TRUE;
    params->ZipFileNamePtr = archivePath.data();
    params->CheckValue = PX_CHECK_VALUE;
    const fs::path previous = fs::current_path();
    fs::current_path(out);
    PxUnzExec(params.get());
    fs::current_path(previous);
    // Anything beside the archive and the directory was written outside it.
    for (const auto &entry : fs::directory_iterator(g_base))
        if (entry.path() != archive && entry.path() != out)
            std::abort();
    fs::remove_all(out);
    return 0;
}
