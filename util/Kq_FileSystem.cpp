#include "util/Kq_FileSystem.h"

#include "platform/CommandLine.h"
#include "platform/Exceptions.h"
#include "platform/ProgramPath.h"

#include <algorithm>

namespace pellux {

std::string TKq_FileSystem::AddBackslash(const std::string &Path)
{
    // Only the emptiness test looks at the trimmed text; the result keeps Path whole.
    const bool onlyBlanks =
        std::all_of(Path.begin(), Path.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
    if (onlyBlanks)
        return {};
    return Path.back() == '/' ? Path : Path + '/';
}

std::string TKq_FileSystem::GetProgramDir() { return AddBackslash(DirectoryPart(ProgramFilePath())); }

std::string TKq_FileSystem::GetShortPath(const std::string &LongPath) { return EscapeCommandLineItem(LongPath); }

void TKq_FileSystem::RunCommandLine(const std::string &CommandLine, const std::vector<std::string> &Environment)
{
    if (CommandLine.size() > MaxCommandLine)
        throw Exception("CommandLine too long\r" + CommandLine);
    StartProgram(SplitCommandLine(CommandLine), Environment);
}

} // namespace pellux
