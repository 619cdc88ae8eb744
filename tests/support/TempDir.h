#pragma once
// A fresh directory under $TMPDIR, removed with everything in it at the end of a test.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pellux::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    std::string File(const std::string &name) const { return (path_ / name).string(); }
    // Writes bytes to a file inside the directory and returns its path.
    std::string Write(const std::string &name, const std::string &bytes) const;

private:
    std::filesystem::path path_;
};

// Runs a command through /bin/sh and returns its exit status; stdout goes to `out`
// when given.
int RunShell(const std::string &command, std::string *out = nullptr);
std::string ReadFile(const std::string &path);
// Shell-quotes one argument.
std::string Quote(const std::string &text);

} // namespace pellux::test

namespace pellux::test {
// Runs a Python 3 program (the text of a script); returns its exit status and stdout.
int RunPython(const std::string &program, std::string *out = nullptr);
} // namespace pellux::test
