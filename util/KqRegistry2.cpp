#include "util/KqRegistry2.h"

namespace pellux {

TKqRegistry::TKqRegistry() { SetRootKey(HKEY_CURRENT_USER); }

std::string TKqRegistry::GetCurrentKeyPath() const
{
    const std::string &path = CurrentPath();
    if (!path.empty() && path.front() != '\\')
        return '\\' + path;
    return path;
}

void TKqRegistry::WriteStringAt(const std::string &Key, const std::string &Name, const std::string &Value)
{
    const std::string remembered = GetCurrentKeyPath();
    // Writing on into the key that happens to be current would put the value elsewhere.
    if (!OpenKey(Key, true))
        throw ERegistryException("Cannot open key '" + Key + "'");
    WriteString(Name, Value);
    OpenKey(remembered, false);
}

} // namespace pellux
