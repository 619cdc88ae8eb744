#pragma once
#include "app/FMain.h"
#include "app/ListingModel.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <QTreeView>
#include <gtest/gtest.h>

namespace pellux::test {

class WindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TFormMainZip> Start(std::vector<std::string> args = {})
    {
        return std::make_unique<TFormMainZip>(std::move(args));
    }
    static std::vector<std::string> Column(TFormMainZip &w, int column)
    {
        std::vector<std::string> texts;
        for (int row = 0; row < w.Listing().rowCount(); ++row)
            texts.push_back(w.GetColumnText(row, column));
        return texts;
    }
    ScopedScriptedInteraction ui;
    TempDir dir;
};

} // namespace pellux::test
