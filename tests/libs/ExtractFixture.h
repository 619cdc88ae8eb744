#pragma once
// A test that writes an archive's bytes and extracts them with the real library into a
// target of its own.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace pellux::test {

class ExtractFixture : public ::testing::Test {
protected:
    TempDir dir;
    TempDir target;
    std::string archive = dir.File("t.zip");

    LibRun Extract(const std::string &bytes)
    {
        dir.Write("t.zip", bytes);
        return RunUnz(archive, {}, UnzOptions{}, target.Path());
    }
};

} // namespace pellux::test
