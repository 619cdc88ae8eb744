#include "platform/CommandLine.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace pellux {

std::string EscapeCommandLineItem(const std::string &item)
{
    std::string escaped;
    escaped.reserve(item.size());
    for (char c : item) {
        if (c == ' ' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::vector<std::string> SplitCommandLine(const std::string &commandLine)
{
    std::vector<std::string> items;
    std::string current;
    bool inItem = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == ' ') {
            if (inItem)
                items.push_back(std::move(current));
            current.clear();
            inItem = false;
            continue;
        }
        inItem = true;
        if (c == '\\' && i + 1 < commandLine.size())
            current += commandLine[++i];
        else
            current += c;
    }
    if (inItem)
        items.push_back(std::move(current));
    return items;
}

bool StartProgram(const std::vector<std::string> &items)
{
    if (items.empty())
        return false;
    std::vector<char *> argv;
    argv.reserve(items.size() + 1);
    for (const auto &item : items)
        argv.push_back(const_cast<char *>(item.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    // The caller does not wait; a small reaper does, so no zombie stays behind.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

} // namespace pellux
