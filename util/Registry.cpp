#include "util/Registry.h"

namespace pellux {

void TRegistry::SetRootKey(RootKey Root)
{
    if (Root != root_) {
        CloseKey();
        root_ = Root;
    }
}

bool TRegistry::OpenKey(const std::string &Key, bool CanCreate)
{
    const bool relative = Key.empty() || Key.front() != '\\';
    const std::string subPath = relative ? Key : Key.substr(1);
    const bool belowCurrent = relative && current_;
    const RegistryKey base = belowCurrent ? *current_ : RegistryKey{root_, {}};
    auto opened = Registry().OpenKey(base, subPath, CanCreate && !Key.empty());
    if (!opened)
        return false;
    std::string path = belowCurrent ? currentPath_ + '\\' + subPath : subPath;
    CloseKey();
    current_ = std::move(opened);
    currentPath_ = std::move(path);
    return true;
}

void TRegistry::WriteString(const std::string &Name, const std::string &Value)
{
    if (!current_ || !Registry().SetString(*current_, Name, Value))
        throw ERegistryException("Failed to set data for '" + Name + "'");
}

void TRegistry::CloseKey()
{
    current_.reset();
    currentPath_.clear();
}

} // namespace pellux
