// Every program answers --help on stdout and --version, exit 0, without a display;
// wrong usage goes to stderr with exit 2.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pellux::test;

TEST(CliHelpTest, EachProgramAnswersHelpAndVersionWithoutADisplay)
{
    TempDir dir;
    const std::string err = dir.File("err.txt");
    for (const std::string program : {"pellux-cli", "pellux", "zip2exe"}) {
        const std::string path = std::string(PELLUX_BIN_DIR) + "/" + program;
        if (!std::filesystem::exists(path))
            continue; // a build without the window
        const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + Quote(path);
        std::string out;
        EXPECT_EQ(RunShell(run + " --version 2>" + Quote(err), &out), 0) << program;
        EXPECT_EQ(out, program + " 1.0\n");
        for (const char *help : {" --help", " -h"}) {
            out.clear();
            EXPECT_EQ(RunShell(run + help + " 2>" + Quote(err), &out), 0) << program;
            EXPECT_EQ(out.rfind("usage: " + program, 0), 0u) << out;
            EXPECT_EQ(ReadFile(err), "");
        }
    }
    std::string out;
    const std::string cli = Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli");
    EXPECT_EQ(RunShell(cli + " --help", &out), 0);
    for (const char *option : {"--password-file FILE", "--name-encoding NAME", "--encrypt", "  test  "})
        EXPECT_NE(out.find(option), std::string::npos) << option;
    EXPECT_EQ(RunShell(cli + " 2>" + Quote(err), &out), 2);
    EXPECT_EQ(ReadFile(err).rfind("usage: pellux-cli", 0), 0u);
}
