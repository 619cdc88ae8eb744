#include "platform/Volumes.h"

#include "platform/InOutError.h"

#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <unistd.h>

namespace pellux {

namespace {
std::map<std::string, std::string> &RememberedDirectories()
{
    static std::map<std::string, std::string> byRoot;
    return byRoot;
}

std::string ErrorText(const std::string &path, int code)
{
    return "Cannot enter directory " + path + ": " + std::strerror(code);
}
} // namespace

std::vector<VolumeInfo> BrowsableVolumes()
{
    std::vector<VolumeInfo> volumes;
    bool haveRoot = false;
    for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
        // Bind-mounted files (a container's /etc/hosts) are no place to browse.
        if (!storage.isValid() || (storage.isReady() && !QFileInfo(storage.rootPath()).isDir()))
            continue;
        VolumeInfo volume{storage.rootPath().toStdString(), storage.name().toStdString()};
        if (std::any_of(volumes.begin(), volumes.end(), [&](const VolumeInfo &v) { return v.Root == volume.Root; }))
            continue;
        haveRoot = haveRoot || volume.Root == kFallbackDrive;
        volumes.push_back(std::move(volume));
    }
    if (!haveRoot)
        volumes.push_back({kFallbackDrive, {}});
    std::sort(volumes.begin(), volumes.end(), [](const VolumeInfo &a, const VolumeInfo &b) { return a.Root < b.Root; });
    return volumes;
}

std::string VolumeRootOf(const std::string &path)
{
    const QStorageInfo storage(QString::fromStdString(path));
    if (!storage.isValid())
        return kFallbackDrive;
    const std::string root = storage.rootPath().toStdString();
    return root.empty() ? std::string(kFallbackDrive) : root;
}

void CheckVolumeReady(const std::string &root)
{
    const QStorageInfo storage(QString::fromStdString(root));
    if (storage.isValid() && !storage.isReady())
        throw EInOutError(ENOMEDIUM, ErrorText(root, ENOMEDIUM));
}

void EnterDirectory(const std::string &path)
{
    if (::chdir(path.c_str()) != 0) {
        const int code = errno;
        throw EInOutError(code, ErrorText(path, code));
    }
    RememberedDirectories()[VolumeRootOf(path)] = path;
}

std::string VolumeCurrentDirectory(const std::string &root)
{
    const auto &remembered = RememberedDirectories();
    const auto found = remembered.find(root);
    return found == remembered.end() ? root : found->second;
}

std::string CurrentDirectory()
{
    std::string buffer(4096, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.c_str();
}

} // namespace pellux
