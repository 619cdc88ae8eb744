#pragma once
#include "platform/Exceptions.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "zip/ZipEngine.h"

#include <gtest/gtest.h>

namespace pellux::test {

// Lists a file through the component as the window does, recording what the user saw.
struct Listing {
    ZipEntryList Entries;
    int Updates = 0;
    std::string Error; // text of the exception that left the ZipFilename setter
    ScriptedLog Log;

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto &e : Entries)
            names.emplace_back(e.FileName());
        return names;
    }
};

inline Listing ListFile(const std::string &path)
{
    ScopedScriptedInteraction ui;
    TZipEngine engine;
    Listing result;
    engine.OnDirUpdate = [&](TZipEngine &sender) {
        ++result.Updates;
        result.Entries = sender.DirEntries();
    };
    try {
        engine.SetZipFilename(path);
    } catch (const std::exception &e) {
        result.Error = e.what();
    }
    result.Log = ui.Log;
    return result;
}

} // namespace pellux::test
