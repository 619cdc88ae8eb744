#pragma once
// Archives written by Python's zipfile, so that stored names are exactly as given.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellux::test {

// Writes an archive at path; each entry holds "<name> data". Names must not hold a quote.
inline std::string MakeZip(const std::string &path, const std::vector<std::string> &entries)
{
    std::string program = "import zipfile\nwith zipfile.ZipFile('" + path + "', 'w') as z:\n";
    for (const auto &entry : entries)
        program += "    z.writestr('" + entry + "', '" + entry + " data')\n";
    EXPECT_EQ(RunPython(program), 0);
    return path;
}

} // namespace pellux::test
