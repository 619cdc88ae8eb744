#include "app/commands/Association.h"

#include "platform/UserInteraction.h"
#include "util/KqRegistry2.h"

#include <memory>

namespace pellux {

void AssociateZipFiles(const std::string &Program)
{
    if (!UI().Confirm("Are you sure you want to associate all\r.ZIP files with Pellux?", "Confirm"))
        return;
    // Owned here so that the helper goes also when a write raises.
    const auto registry = std::make_unique<TKqRegistry>();
    registry->SetRootKey(HKEY_CLASSES_ROOT);
    registry->WriteStringAt("\\.zip", "", "Pellux");
    // The path stays unquoted: the shell takes everything before " \"%1\"" as the program.
    const std::string command = Program + " \"%1\"";
    registry->WriteStringAt("\\Pellux\\shell\\open\\command", "", command);
    UI().ShowMessage("Pellux successfully associated with .zip files.");
}

} // namespace pellux
