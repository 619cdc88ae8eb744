#pragma once
// Command lines without a shell. A path is made safe for a command line by escaping
// every blank and backslash with a backslash; the line is split back at the blanks
// that are not escaped and the escapes are removed. Nothing else is special, so
// quotes, '$', '*' and ';' reach the started program exactly as written.
#include <string>
#include <vector>

namespace pellux {

std::string EscapeCommandLineItem(const std::string &item);

// Splits at unescaped blanks; runs of blanks count as one separator, so no item is
// empty. A backslash takes the next character literally; a lone backslash at the end
// stays itself.
std::vector<std::string> SplitCommandLine(const std::string &commandLine);

// Starts the program named by the first item (searched on PATH when it holds no '/'),
// the other items becoming its arguments, in the current directory, without waiting
// for it, in a session of its own with stdin on /dev/null. Extra ("NAME=VALUE") goes into
// the program's environment only, over a variable of the same name. Returns false when
// nothing could be started.
bool StartProgram(const std::vector<std::string> &items, const std::vector<std::string> &extra = {});

} // namespace pellux
