#pragma once
// The classes root as the Linux desktop keeps it, in the XDG files:
//   \.zip, default value N            $XDG_CONFIG_HOME/mimeapps.list names n.desktop (N in
//                                     lower case) the default application for
//                                     application/zip; so does each list of
//                                     $XDG_CURRENT_DESKTOP (gnome-mimeapps.list, ...) that
//                                     names another one, as it takes precedence there
//   \N\shell\open\command, default    n.desktop installed in $XDG_DATA_DIRS when it starts
//   value "PROGRAM "%1""              PROGRAM (our earlier copy in $XDG_DATA_HOME, which
//                                     would hide it, is removed); otherwise a copy of the
//                                     packaged entry in $XDG_DATA_HOME/applications whose
//                                     Exec starts PROGRAM with the file
// Every other key is refused (never mapped onto something else), and so is every other
// root. Each file is written whole beside itself and renamed into place; the lists keep
// every line but the one they own.
#include "platform/RegistryStore.h"

#include <optional>
#include <string>

namespace pellux {

class DesktopRegistryStore : public RegistryStore {
public:
    std::optional<RegistryKey> OpenKey(const RegistryKey &Base, const std::string &SubPath, bool Create) override;
    bool SetString(const RegistryKey &Key, const std::string &Name, const std::string &Value) override;
};

// $XDG_CONFIG_HOME and $XDG_DATA_HOME, or their defaults below $HOME when unset, empty
// or relative; empty when there is no home directory either.
std::string ConfigHome();
std::string DataHome();

// The Exec value of a desktop entry for a shell command "PROGRAM "%1"" (or "PROGRAM %1"):
// PROGRAM quoted as desktop files require when it needs it, then %f.
// Nothing for a command without the "%1" at its end.
std::optional<std::string> DesktopExec(const std::string &command);

// The text of a mimeapps.list with `mimeType=desktopId` as the one line for mimeType in
// its [Default Applications] group (the group is added when missing).
std::string WithDefaultApplication(const std::string &text, const std::string &mimeType, const std::string &desktopId);

} // namespace pellux
