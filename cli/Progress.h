#pragma once
// The one line pellux-cli keeps on a terminal while an operation runs: how much of the
// work is done, how fast, and how long the rest will take, rewritten in place. It is
// drawn from the same reports the window's progress bar follows, and they are also
// where an interrupt is answered with a stop.
#include "zip/ZipTypes.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace pellux::cli {

// Whether stderr can show the line: a terminal able to rewrite one.
bool ProgressWanted();
// Takes the running operation's line, if one is drawn, off the terminal: everything else
// written to stderr while the work runs calls it first.
void EraseProgress();

class ProgressLine {
public:
    // Follows the engine's progress reports until destroyed, the handler bound before
    // called first. `draw`: keep the line on stderr once the work has run ~0.5 s.
    ProgressLine(TZipEngine &engine, bool draw);
    ~ProgressLine();
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // After an interrupt, has the engine's next answer ask the library to stop.
    void StopIfInterrupted();
    // The work was asked to stop before its end.
    bool Stopped() const { return stopped_; }
    void Erase();

private:
    using Clock = std::chrono::steady_clock;
    struct Sample {
        Clock::time_point At;
        std::uint64_t Done;
    };
    void Report(ProgressType type, const std::string &name, std::int32_t size);
    void Draw(Clock::time_point now);
    double BytesPerSecond(Clock::time_point now) const;
    void GuardPasswordRequests();

    TZipEngine &engine_;
    TProgressEvent previous_;
    bool draw_;
    bool drawn_ = false;
    bool stopped_ = false;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastDraw_{};
    Clock::duration delay_;
    std::uint64_t done_ = 0;
    std::string file_;
    std::deque<Sample> samples_; // the last seconds, for a speed that follows changes
};

} // namespace pellux::cli
