#pragma once
// TKqRegistry: the registry accessor with two conveniences, the current key as an
// absolute path and writing a value into another key without losing the current one.
#include "util/Registry.h"

#include <string>

namespace pellux {

class TKqRegistry : public TRegistry {
public:
    TKqRegistry();

    // The current path with a leading '\' (an absolute path that re-opens the current
    // key); empty when no key is current.
    std::string GetCurrentKeyPath() const;

    // Opens Key (creating it and the keys on its way), writes Value as its value Name,
    // then opens the key that was current before again; when there was none, or it
    // cannot be opened again, Key stays current. A Key that can be neither opened nor
    // created raises ERegistryException and nothing is written.
    void WriteStringAt(const std::string &Key, const std::string &Name, const std::string &Value);
};

} // namespace pellux
