#include "platform/RegistryStore.h"

#include "platform/DesktopRegistryStore.h"

#include <algorithm>

namespace pellux {

namespace {
std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

std::unique_ptr<RegistryStore> &Installed()
{
    static std::unique_ptr<RegistryStore> store;
    return store;
}
} // namespace

std::vector<std::string> SplitKeyPath(const std::string &path)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string MemoryRegistryStore::Id(RootKey root, const std::vector<std::string> &path)
{
    std::string id = root == RootKey::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
    for (const auto &name : path)
        id += '\\' + Lower(name);
    return id;
}

std::optional<RegistryKey> MemoryRegistryStore::OpenKey(const RegistryKey &Base, const std::string &SubPath,
                                                        bool Create)
{
    RegistryKey key = Base;
    for (auto &name : SplitKeyPath(SubPath))
        key.Path.push_back(std::move(name));
    // Every key on the way, from the first below the root.
    std::vector<std::string> ids;
    for (std::size_t depth = 1; depth <= key.Path.size(); ++depth)
        ids.push_back(Id(key.Root, {key.Path.begin(), key.Path.begin() + static_cast<std::ptrdiff_t>(depth)}));
    const bool refused = std::any_of(ids.begin(), ids.end(), [this](const auto &id) { return refusedKeys_.count(id); });
    if (refused)
        return std::nullopt;
    if (Create) {
        for (const auto &id : ids)
            keys_[id];
    } else if (!ids.empty() && !keys_.count(ids.back())) {
        return std::nullopt;
    }
    return key;
}

bool MemoryRegistryStore::SetString(const RegistryKey &Key, const std::string &Name, const std::string &Value)
{
    const std::string id = Id(Key.Root, Key.Path);
    if (refusedWrites_.count(id) || (!Key.Path.empty() && !keys_.count(id)))
        return false;
    keys_[id][Lower(Name)] = Value;
    return true;
}

bool MemoryRegistryStore::HasKey(RootKey root, const std::string &path) const
{
    return keys_.count(Id(root, SplitKeyPath(path))) != 0;
}

std::optional<std::string> MemoryRegistryStore::Value(RootKey root, const std::string &path,
                                                      const std::string &name) const
{
    const auto key = keys_.find(Id(root, SplitKeyPath(path)));
    if (key == keys_.end())
        return std::nullopt;
    const auto value = key->second.find(Lower(name));
    if (value == key->second.end())
        return std::nullopt;
    return value->second;
}

std::vector<std::string> MemoryRegistryStore::Dump() const
{
    std::vector<std::string> lines;
    for (const auto &[id, values] : keys_)
        for (const auto &[name, value] : values)
            lines.push_back(id + '|' + name + '=' + value);
    return lines;
}

RegistryStore &Registry()
{
    static DesktopRegistryStore fallback;
    auto &store = Installed();
    return store ? *store : static_cast<RegistryStore &>(fallback);
}

std::unique_ptr<RegistryStore> SetRegistryStore(std::unique_ptr<RegistryStore> store)
{
    auto previous = std::move(Installed());
    Installed() = std::move(store);
    return previous;
}

} // namespace pellux
