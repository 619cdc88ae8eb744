#include "cli/Progress.h"

#include "cli/Interrupt.h"
#include "zip/ZipEngine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace pellux::cli {

namespace {

ProgressLine *gActive = nullptr;

// Shorter work shows no line: it would only flicker.
constexpr auto kDefaultDelay = std::chrono::milliseconds(500);
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// The speed is measured over about this much of the recent past.
constexpr auto kSpeedWindow = std::chrono::seconds(3);

int TerminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::string Bytes(double bytes)
{
    static const char *const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    else
        std::snprintf(text, sizeof text, bytes < 100 ? "%.1f %s" : "%.0f %s", bytes, kUnits[unit]);
    return text;
}

std::string Duration(double seconds)
{
    const auto total = static_cast<unsigned long long>(std::min(seconds, 359999.0) + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", total / 60, total % 60);
    return text;
}

// A name's characters as the terminal shows them, each with its width in columns;
// control characters and what the locale cannot decode become '?'.
struct Glyph {
    std::string Bytes;
    int Width;
};

std::vector<Glyph> Glyphs(const std::string &text)
{
    std::vector<Glyph> glyphs;
    std::mbstate_t state{};
    std::size_t i = 0;
    while (i < text.size()) {
        wchar_t wide = 0;
        const std::size_t n = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
        if (n == 0 || n > text.size() - i) {
            glyphs.push_back({"?", 1});
            state = {};
            ++i;
            continue;
        }
        const int width = ::wcwidth(wide);
        if (width < 0)
            glyphs.push_back({"?", 1});
        else
            glyphs.push_back({text.substr(i, n), width});
        i += n;
    }
    return glyphs;
}

// The end of a name in at most `columns` columns, its start cut off: the file's own
// name is the part worth seeing.
std::string Tail(const std::string &name, int columns)
{
    const std::vector<Glyph> glyphs = Glyphs(name);
    int width = 0;
    for (const auto &glyph : glyphs)
        width += glyph.Width;
    std::size_t from = 0;
    if (width > columns) {
        width += 3; // "..."
        while (from < glyphs.size() && width > columns)
            width -= glyphs[from++].Width;
    }
    if (width > columns)
        return std::string();
    std::string tail = from > 0 ? "..." : "";
    for (std::size_t i = from; i < glyphs.size(); ++i)
        tail += glyphs[i].Bytes;
    return tail;
}

// An announced count that has not been reached keeps the percentage below 100.
int Percent(std::uint64_t done, std::uint64_t total)
{
    if (done >= total)
        return 100;
    return static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
}

std::chrono::milliseconds DelayFromEnvironment()
{
    // Tests draw at once instead of racing the clock.
    const char *text = std::getenv("PELLUX_PROGRESS_DELAY_MS");
    if (!text || !*text)
        return kDefaultDelay;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value >= 0) ? std::chrono::milliseconds(value) : kDefaultDelay;
}

// Answers the engine's password requests for the handler bound before, with the line
// off the terminal first: the prompt goes to the same terminal. After an interrupt it
// declines instead of asking.
struct PasswordGuard {
    ProgressLine *Line;
    TPasswordEvent Inner;
    bool operator()(TZipEngine &sender, const std::string &entry, bool again, Secret &password) const
    {
        Line->StopIfInterrupted();
        if (Line->Stopped())
            return false;
        Line->Erase();
        return Inner(sender, entry, again, password);
    }
};

} // namespace

bool ProgressWanted()
{
    const char *term = std::getenv("TERM");
    return ::isatty(STDERR_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
}

void EraseProgress()
{
    if (gActive)
        gActive->Erase();
}

ProgressLine::ProgressLine(TZipEngine &engine, bool draw)
    : engine_(engine), previous_(engine.OnProgress), draw_(draw), delay_(DelayFromEnvironment())
{
    engine_.OnProgress = [this](TZipEngine &sender, ProgressType type, const std::string &name, std::int32_t size) {
        if (previous_)
            previous_(sender, type, name, size);
        Report(type, name, size);
    };
    gActive = this;
}

ProgressLine::~ProgressLine()
{
    Erase();
    if (gActive == this)
        gActive = nullptr;
    if (const auto *guard = engine_.OnPassword.target<PasswordGuard>())
        engine_.OnPassword = guard->Inner;
    engine_.OnProgress = previous_;
}

void ProgressLine::StopIfInterrupted()
{
    if (!Interrupted())
        return;
    // The component answers every report with a stop while Cancel is set; it clears
    // the flag itself when the operation begins, so it is set again on each report.
    engine_.Cancel = true;
    stopped_ = true;
}

void ProgressLine::Erase()
{
    if (!drawn_)
        return;
    drawn_ = false;
    static const char kClear[] = "\r\033[K";
    (void)!::write(STDERR_FILENO, kClear, sizeof kClear - 1);
}

// The operation binds its password handler inside the work, after this line began
// following it; the first report is early enough to guard it.
void ProgressLine::GuardPasswordRequests()
{
    if (engine_.OnPassword && !engine_.OnPassword.target<PasswordGuard>())
        engine_.OnPassword = PasswordGuard{this, std::move(engine_.OnPassword)};
}

void ProgressLine::Report(ProgressType type, const std::string &name, std::int32_t size)
{
    GuardPasswordRequests();
    if (type == ProgrEnd) {
        // The work is done: a stop now would stop nothing.
        Erase();
        return;
    }
    StopIfInterrupted();
    if (type == ProgrStep && size > 0)
        done_ += static_cast<std::uint64_t>(size);
    else if (type == ProgrFile)
        file_ = name;
    if (!draw_ || stopped_)
        return;
    const auto now = Clock::now();
    if (now - started_ < delay_ || (drawn_ && now - lastDraw_ < kRedrawInterval))
        return;
    Draw(now);
}

double ProgressLine::BytesPerSecond(Clock::time_point now) const
{
    // Until the samples reach back a second, the whole run so far gives the speed.
    Sample oldest{started_, 0};
    if (!samples_.empty() && now - samples_.front().At >= std::chrono::seconds(1))
        oldest = samples_.front();
    const std::chrono::duration<double> span = now - oldest.At;
    if (span.count() < 0.2)
        return 0;
    return static_cast<double>(done_ - oldest.Done) / span.count();
}

void ProgressLine::Draw(Clock::time_point now)
{
    while (samples_.size() > 1 && now - samples_[1].At >= kSpeedWindow)
        samples_.pop_front();
    const double speed = BytesPerSecond(now);
    samples_.push_back({now, done_});

    const std::uint64_t total = engine_.BytesToDo;
    std::string text;
    if (total > 0) {
        char percent[8];
        std::snprintf(percent, sizeof percent, "%3d%%", Percent(done_, total));
        text = std::string(percent) + "  " + Bytes(static_cast<double>(done_)) + " of "
            + Bytes(static_cast<double>(total));
    } else {
        text = Bytes(static_cast<double>(done_));
    }
    if (speed > 0) {
        text += "  " + Bytes(speed) + "/s";
        if (total > done_)
            text += "  " + Duration(static_cast<double>(total - done_) / speed) + " left";
    }
    // One column stays free: a terminal may wrap on writing the last one.
    const int columns = TerminalWidth() - 1;
    if (static_cast<int>(text.size()) > columns)
        text.resize(static_cast<std::size_t>(std::max(columns, 0)));
    else if (!file_.empty() && static_cast<int>(text.size()) + 2 < columns)
        text += "  " + Tail(file_, columns - static_cast<int>(text.size()) - 2);
    const std::string line = "\r" + text + "\033[K";
    (void)!::write(STDERR_FILENO, line.data(), line.size());
    drawn_ = true;
    lastDraw_ = now;
}

} // namespace pellux::cli
