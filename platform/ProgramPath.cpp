#include "platform/ProgramPath.h"

#include <filesystem>
#include <system_error>

namespace pellux {

std::string ProgramFilePath()
{
    std::error_code ec;
    const auto target = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : target.string();
}

std::string DirectoryPart(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace pellux
