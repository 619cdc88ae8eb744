#pragma once
// The store of keys with string values that the registry helper works on. A key path
// is a list of names separated by '\' (empty names, as in "a\\b" or "a\", are skipped);
// key names match regardless of ASCII case. The desktop build installs the XDG store
// (DesktopRegistryStore.h); tests install the in-memory store below.
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pellux {

enum class RootKey { ClassesRoot, CurrentUser };

// A key the store has opened: its root and the names of its path from there.
struct RegistryKey {
    RootKey Root = RootKey::CurrentUser;
    std::vector<std::string> Path;
};

// The names of a '\'-separated key path, empty names left out.
std::vector<std::string> SplitKeyPath(const std::string &path);

class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    // Opens the key at SubPath below Base; with Create, the key and any missing keys on
    // its path are created. Nothing when the key is missing (and not to be created) or
    // cannot be had.
    virtual std::optional<RegistryKey> OpenKey(const RegistryKey &Base, const std::string &SubPath, bool Create) = 0;
    // Writes Value as the string value Name ("" is the key's default value) of Key.
    virtual bool SetString(const RegistryKey &Key, const std::string &Name, const std::string &Value) = 0;
};

// Keys and values in memory. A test can make a key (and everything below it) refuse
// to be created, or refuse writes of values.
class MemoryRegistryStore : public RegistryStore {
public:
    std::optional<RegistryKey> OpenKey(const RegistryKey &Base, const std::string &SubPath, bool Create) override;
    bool SetString(const RegistryKey &Key, const std::string &Name, const std::string &Value) override;

    void RefuseKey(RootKey root, const std::string &path) { refusedKeys_.insert(Id(root, SplitKeyPath(path))); }
    void RefuseWrites(RootKey root, const std::string &path) { refusedWrites_.insert(Id(root, SplitKeyPath(path))); }
    bool HasKey(RootKey root, const std::string &path) const;
    std::optional<std::string> Value(RootKey root, const std::string &path, const std::string &name) const;
    // Every value as "key path|name=value", key paths with '\' and in lower case.
    std::vector<std::string> Dump() const;

private:
    static std::string Id(RootKey root, const std::vector<std::string> &path);
    // Key id -> value name in lower case -> value.
    std::map<std::string, std::map<std::string, std::string>> keys_;
    std::set<std::string> refusedKeys_, refusedWrites_;
};

// The store in force. Until one is installed, the desktop store answers.
RegistryStore &Registry();
// Installs a store and returns the previous one (nullptr for the built-in default).
std::unique_ptr<RegistryStore> SetRegistryStore(std::unique_ptr<RegistryStore> store);

} // namespace pellux
