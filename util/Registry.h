#pragma once
// TRegistry: the registry accessor over the key store in force (platform/RegistryStore.h).
// It keeps a root key, the key opened last and the path it was opened by.
#include "platform/Exceptions.h"
#include "platform/RegistryStore.h"

#include <optional>
#include <string>

namespace pellux {

inline constexpr RootKey HKEY_CLASSES_ROOT = RootKey::ClassesRoot;
inline constexpr RootKey HKEY_CURRENT_USER = RootKey::CurrentUser;

// A value could not be written: "Failed to set data for '<name>'".
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

class TRegistry {
public:
    TRegistry() = default;
    virtual ~TRegistry() { CloseKey(); }
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    RootKey GetRootKey() const { return root_; }
    // Closes the current key first when the root changes.
    void SetRootKey(RootKey Root);

    // A Key starting with '\' is opened below the root, any other below the current key
    // (the root when none is current). CanCreate creates a non-empty Key and the keys on
    // its way. On failure nothing changes.
    bool OpenKey(const std::string &Key, bool CanCreate);
    // Raises ERegistryException when the value cannot be written into the current key.
    void WriteString(const std::string &Name, const std::string &Value);
    void CloseKey();

    bool HasCurrentKey() const { return current_.has_value(); }
    // As the current key was opened, without a leading '\'; empty when none is current.
    const std::string &CurrentPath() const { return currentPath_; }

private:
    RootKey root_ = HKEY_CURRENT_USER;
    std::optional<RegistryKey> current_;
    std::string currentPath_;
};

} // namespace pellux
