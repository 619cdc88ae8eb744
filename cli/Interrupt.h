#pragma once
// Ctrl+C and SIGTERM during an operation stop it the way the window's Cancel does: the
// handler only notes the signal, and the next progress report answers the library
// with a stop. The library leaves the archive as it was and no partial file behind.
namespace pellux::cli {

// The exit status of work stopped by a signal, as a shell reports SIGINT.
inline constexpr int kInterruptedStatus = 130;

// While alive, SIGINT and SIGTERM are noted instead of ending the program; the first
// one puts the default action back, so that a second ends it at once.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher &) = delete;
    InterruptCatcher &operator=(const InterruptCatcher &) = delete;
};

// A signal was noted since the program started.
bool Interrupted();

} // namespace pellux::cli
