#include "platform/CommandLine.h"

#include <algorithm>
#include <string_view>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

bool StartProgram(const std::vector<std::string> &items, const std::vector<std::string> &extra)
{
    if (items.empty())
        return false;
    std::vector<char *> argv;
    argv.reserve(items.size() + 1);
    for (const auto &item : items)
        argv.push_back(const_cast<char *>(item.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> env;
    for (const auto &variable : extra)
        env.push_back(const_cast<char *>(variable.c_str()));
    for (char **at = environ; *at; ++at) {
        const std::string_view variable(*at);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string &e) {
            return e.substr(0, e.find('=') + 1) == variable.substr(0, variable.find('=') + 1);
        });
        if (!replaced)
            env.push_back(*at);
    }
    env.push_back(nullptr);

    // A program started from a window belongs to no terminal: its own session, and
    // nothing to read on stdin (it may then speak through a window of its own).
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int failed = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), env.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (failed != 0)
        return false;
    // The caller does not wait; a small reaper does, so no zombie stays behind.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

} // namespace pellux
