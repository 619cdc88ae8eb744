#include "tests/libs/LibDriver.h"

#include "tests/support/TempDir.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>

namespace pellux::test {

namespace {

struct Recorder {
    LibRun *Run;
    StopWhen Stop;
    bool Stopped = false;
};

int32_t Record(LibCallbackInfo *info)
{
    auto &recorder = *static_cast<Recorder *>(info->CallerObject);
    Report report{info->ActionCode, info->ErrorCode, info->FileSize, info->Text};
    recorder.Run->Reports.push_back(report);
    if (recorder.Stop && recorder.Stop(report))
        recorder.Stopped = true;
    return recorder.Stopped ? PX_TRUE : PX_FALSE;
}

void *Symbol(const char *library, const char *name)
{
    // Loaded once and kept: the process tests many calls.
    void *handle = ::dlopen((std::string(PELLUX_BIN_DIR) + "/" + library).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw std::runtime_error(::dlerror());
    return ::dlsym(handle, name);
}

int32_t Flag(bool value) { return value ? PX_TRUE : PX_FALSE; }

// Keeps the text buffers alive for the length of a call.
struct Texts {
    std::vector<std::vector<char>> Buffers;
    char *Add(const std::string &text)
    {
        Buffers.emplace_back(text.begin(), text.end());
        Buffers.back().push_back('\0');
        return Buffers.back().data();
    }
};

class CurrentDir {
public:
    explicit CurrentDir(const std::string &dir) : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~CurrentDir() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes) : signal_(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = std::min<rlim_t>(bytes, previous_.rlim_max);
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, signal_);
    }

private:
    void (*signal_)(int);
    rlimit previous_{};
};

} // namespace

std::vector<std::string> LibRun::Files() const
{
    std::vector<std::string> names;
    for (const auto &r : Reports)
        if (r.Action == PX_ACTION_FILE)
            names.push_back(r.Text);
    return names;
}

std::vector<std::string> LibRun::Messages() const
{
    std::vector<std::string> texts;
    for (const auto &r : Reports)
        if (r.Action == PX_ACTION_MESSAGE)
            texts.push_back(r.Text);
    return texts;
}

bool LibRun::HasError() const
{
    for (const auto &r : Reports)
        if (r.Action == PX_ACTION_MESSAGE && r.ErrorCode != 0)
            return true;
    return false;
}

int LibRun::Ends() const
{
    int n = 0;
    for (const auto &r : Reports)
        n += r.Action == PX_ACTION_END;
    return n;
}

LibRun RunZip(const std::string &archive, const std::vector<std::string> &paths, const ZipOptions &options,
              StopWhen stop)
{
    static auto exec = reinterpret_cast<PxZipExecFn>(Symbol("libpxzip.so", "PxZipExec"));
    LibRun run;
    Recorder recorder{&run, std::move(stop)};
    Texts texts;
    auto params = std::make_unique<ZipExecParams>();
    params->CallerObject = &recorder;
    params->InterfaceVersion = PX_INTERFACE_VERSION;
    params->CallbackProc = Record;
    params->HiddenFilesFlag = Flag(options.Hidden);
    params->CompressionLevel = options.Level;
    params->StripDirNamesFlag = Flag(!options.DirNames);
    params->RecurseFlag = Flag(options.Recurse);
    params->ForceDosFlag = Flag(options.ForceDos);
    params->MoveFlag = Flag(options.Move);
    params->DeleteEntriesFlag = Flag(options.Delete);
    params->UpdateFlag = Flag(options.Update);
    params->FreshenFlag = Flag(options.Freshen);
    params->ZipTimeFlag = Flag(options.ZipTime);
    params->ZipFileNamePtr = texts.Add(archive);
    params->CheckValue = PX_CHECK_VALUE;
    for (const auto &path : paths)
        params->FileNames[params->ArgCount++] = texts.Add(path);
    run.Result = exec(params.get());
    return run;
}

LibRun RunUnz(const std::string &archive, const std::vector<std::string> &names, const UnzOptions &options,
              const std::string &intoDir, StopWhen stop)
{
    static auto exec = reinterpret_cast<PxUnzExecFn>(Symbol("libpxunz.so", "PxUnzExec"));
    LibRun run;
    Recorder recorder{&run, std::move(stop)};
    Texts texts;
    auto params = std::make_unique<UnzExecParams>();
    params->CallerObject = &recorder;
    params->InterfaceVersion = PX_INTERFACE_VERSION;
    params->CallbackProc = Record;
    params->UpdateFlag = Flag(options.Update);
    params->FreshenFlag = Flag(options.Freshen);
    params->DirNamesFlag = Flag(options.DirNames);
    params->OverwriteFlag = Flag(options.Overwrite);
    params->ZipFileNamePtr = texts.Add(archive);
    params->CheckValue = PX_CHECK_VALUE;
    for (const auto &name : names)
        params->FileNames[params->ArgCount++] = texts.Add(name);
    CurrentDir into(intoDir);
    FileSizeLimit limit(options.FileSizeLimit);
    run.Result = exec(params.get());
    return run;
}

int RunIn(const std::string &dir, const std::string &command, std::string *out)
{
    return RunShell("cd " + Quote(dir) + " && " + command, out);
}

std::string PythonListing(const std::string &archive)
{
    std::string out;
    RunShell("python3 -c 'import sys,zipfile,hashlib\n"
             "z=zipfile.ZipFile(sys.argv[1])\n"
             "for i in sorted(z.infolist(), key=lambda i: i.filename):\n"
             "    print(i.filename, i.file_size, hashlib.sha1(z.read(i)).hexdigest(), sep=\"\\t\")' "
                 + Quote(archive),
             &out);
    return out;
}

void PythonZip(const std::string &archive, const std::string &body)
{
    const std::string script = "import zipfile, time\n"
                               "z = zipfile.ZipFile("
        + Quote(archive)
        + ", 'w')\n"
          "def add(name, data, mode=None, method=zipfile.ZIP_DEFLATED):\n"
          "    i = zipfile.ZipInfo(name, date_time=(2020, 5, 17, 12, 30, 0))\n"
          "    i.compress_type = method\n"
          "    if mode is not None:\n"
          "        i.create_system = 3\n"
          "        i.external_attr = mode << 16\n"
          "    z.writestr(i, data)\n"
        + body + "\nz.close()\n";
    TempDir scratch;
    const std::string file = scratch.Write("make.py", script);
    if (RunShell("python3 " + Quote(file)) != 0)
        throw std::runtime_error("python could not write " + archive);
}

std::string TreeListing(const std::string &dir)
{
    std::string out;
    RunShell("cd " + Quote(dir)
                 + " && python3 -c 'import os,hashlib\n"
                   "rows=[]\n"
                   "for root,dirs,files in os.walk(\".\"):\n"
                   "    for f in files:\n"
                   "        p=os.path.join(root,f)\n"
                   "        if os.path.isfile(p) and not os.path.islink(p):\n"
                   "            d=open(p,\"rb\").read()\n"
                   "            rows.append((os.path.relpath(p),len(d),hashlib.sha1(d).hexdigest()))\n"
                   "for r in sorted(rows): print(*r, sep=\"\\t\")'",
             &out);
    return out;
}

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(rng());
    return s;
}

} // namespace pellux::test
