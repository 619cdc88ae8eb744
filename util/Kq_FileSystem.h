#pragma once
// File-system helpers without state: a directory path that ends in '/', the program's
// own directory, the command-line form of a path, and starting a program without
// waiting for it. Callers call them on the class; nothing is ever instantiated.
#include <string>
#include <vector>

namespace pellux {

class TKq_FileSystem {
public:
    TKq_FileSystem() = delete;

    // Path with a trailing '/', or "" when Path holds nothing but blanks and control
    // characters. Blanks of Path are kept: "dir " gives "dir /".
    static std::string AddBackslash(const std::string &Path);

    // The directory of the running program, always with one trailing '/'.
    static std::string GetProgramDir();

    // The form of a path that RunCommandLine reads back as one item: every blank and
    // backslash escaped by a backslash. Any path converts, existing or not.
    static std::string GetShortPath(const std::string &LongPath);

    // Starts the program named at the head of CommandLine with the other items as its
    // arguments, in the current directory, without waiting and without a shell. A
    // program that cannot be started is not reported. Raises pellux::Exception
    // "CommandLine too long\r" + CommandLine for more than 250 characters. Environment
    // ("NAME=VALUE") is added to the program's environment only.
    static void RunCommandLine(const std::string &CommandLine, const std::vector<std::string> &Environment = {});

    static constexpr std::size_t MaxCommandLine = 250;
};

} // namespace pellux
