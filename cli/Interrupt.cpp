#include "cli/Interrupt.h"

#include <signal.h>

namespace pellux::cli {

namespace {

volatile sig_atomic_t gInterrupted = 0;
struct sigaction gPrevious[2]{};
constexpr int kSignals[2] = {SIGINT, SIGTERM};

extern "C" void NoteInterrupt(int)
{
    gInterrupted = 1;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (const int signal : kSignals)
        ::sigaction(signal, &fallback, nullptr);
}

} // namespace

InterruptCatcher::InterruptCatcher()
{
    struct sigaction note {};
    note.sa_handler = NoteInterrupt;
    ::sigemptyset(&note.sa_mask);
    // The libraries' reads and writes go on as if nothing happened: an EINTR there would
    // read as a failing disk.
    note.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &note, &gPrevious[i]);
}

InterruptCatcher::~InterruptCatcher()
{
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
}

bool Interrupted() { return gInterrupted != 0; }

} // namespace pellux::cli
