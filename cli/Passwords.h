#pragma once
// Where pellux-cli's passwords come from: the first line of the file --password-file
// names, else the terminal (read from /dev/tty without echo). Never the command line.
#include "util/Secret.h"

#include <string>

namespace pellux {
class TZipEngine;
}

namespace pellux::cli {

class PasswordSource {
public:
    // `file` empty: the terminal, when there is one.
    explicit PasswordSource(std::string file) : file_(std::move(file)) {}

    // Reads the file, when one was named; false with `why` set when it cannot be read.
    bool Load(std::string *why);
    // Answers the engine's requests for reading encrypted entries.
    void Attach(TZipEngine &engine);
    // The password new entries are encrypted with: the file's, else typed twice.
    bool ForAdding(Secret &password, std::string *why);

private:
    bool ForReading(const std::string &entry, bool again, Secret &password);

    std::string file_;
    Secret filePassword_;
    bool loaded_ = false;
    bool toldMissing_ = false;
};

} // namespace pellux::cli
