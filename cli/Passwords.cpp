#include "cli/Passwords.h"

#include "zip/ZipEngine.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pellux::cli {

namespace {

// A Ctrl+C while echo is off must not leave the user's terminal silent.
int gTerminal = -1;
termios gSaved{};

extern "C" void RestoreAndDie(int signal)
{
    if (gTerminal >= 0)
        ::tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

class Terminal {
public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Terminal()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;
    bool Open() const { return fd_ >= 0; }

    // One line typed without echo; false at the end of input or on a read error.
    bool Read(const std::string &prompt, Secret &answer)
    {
        (void)!::write(fd_, prompt.data(), prompt.size());
        termios saved{};
        const bool quiet = ::tcgetattr(fd_, &saved) == 0;
        struct sigaction previous[2]{};
        if (quiet) {
            gSaved = saved;
            gTerminal = fd_;
            struct sigaction restore {};
            restore.sa_handler = RestoreAndDie;
            ::sigaction(SIGINT, &restore, &previous[0]);
            ::sigaction(SIGTERM, &restore, &previous[1]);
            termios silent = saved;
            silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            silent.c_lflag |= ECHONL;
            ::tcsetattr(fd_, TCSAFLUSH, &silent);
        }
        Secret line;
        bool ended = false;
        for (;;) {
            char c = 0;
            const ssize_t n = ::read(fd_, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ended = true;
                break;
            }
            if (c == '\n')
                break;
            line.Append(std::string_view(&c, 1));
            ::explicit_bzero(&c, 1);
        }
        if (quiet) {
            ::tcsetattr(fd_, TCSAFLUSH, &saved);
            gTerminal = -1;
            ::sigaction(SIGINT, &previous[0], nullptr);
            ::sigaction(SIGTERM, &previous[1], nullptr);
        }
        if (ended && line.Empty())
            return false;
        answer = line;
        return true;
    }

private:
    int fd_;
};

} // namespace

bool PasswordSource::Load(std::string *why)
{
    if (file_.empty() || loaded_)
        return true;
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot read " + file_ + ": " + std::strerror(errno);
        return false;
    }
    Secret text;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const std::string_view got(buffer, static_cast<std::size_t>(n));
        const std::size_t end = got.find('\n');
        text.Append(got.substr(0, end));
        if (end != std::string_view::npos)
            break;
    }
    ::explicit_bzero(buffer, sizeof buffer);
    ::close(fd);
    // A file written on Windows ends its line with CR LF.
    if (!text.Empty() && text.Text().back() == '\r')
        text.DropLast();
    if (text.Empty()) {
        *why = file_ + ": the password is empty";
        return false;
    }
    filePassword_ = text;
    loaded_ = true;
    return true;
}

void PasswordSource::Attach(TZipEngine &engine)
{
    engine.OnPassword = [this](TZipEngine &, const std::string &entry, bool again, Secret &password) {
        return ForReading(entry, again, password);
    };
}

bool PasswordSource::ForReading(const std::string &entry, bool again, Secret &password)
{
    // The file's password was offered first; it does not open this entry.
    if (loaded_) {
        if (again)
            return false;
        password = filePassword_;
        return true;
    }
    Terminal terminal;
    if (!terminal.Open()) {
        if (!toldMissing_)
            std::fprintf(stderr, "%s is encrypted: no password (give --password-file FILE, or run on a terminal)\n",
                         entry.c_str());
        toldMissing_ = true;
        return false;
    }
    const std::string prompt =
        again ? "Password for " + entry + " (the last one does not open it): " : "Password for " + entry + ": ";
    return terminal.Read(prompt, password) && !password.Empty();
}

bool PasswordSource::ForAdding(Secret &password, std::string *why)
{
    if (loaded_) {
        password = filePassword_;
        return true;
    }
    Terminal terminal;
    if (!terminal.Open()) {
        *why = "--encrypt: no password (give --password-file FILE, or run on a terminal)";
        return false;
    }
    Secret again;
    if (!terminal.Read("Password: ", password) || !terminal.Read("Again: ", again)) {
        *why = "--encrypt: no password given";
        return false;
    }
    if (password.Empty()) {
        *why = "--encrypt: the password must not be empty";
        return false;
    }
    if (!(password == again)) {
        *why = "--encrypt: the passwords do not match";
        return false;
    }
    return true;
}

} // namespace pellux::cli
