#pragma once
// The only way back from a library to its caller: one callback record per report. Once
// the caller has answered "stop", the reporter remembers it and the work winds down.
#include "abi/ZipCallback.h"
#include "util/Secret.h"

#include <cstdint>
#include <string>

namespace pellux::libs {

enum class PasswordAnswer { Given, Declined, Unanswered };

class Reporter {
public:
    // Bytes of work gathered into one step report: often enough that the caller stays
    // responsive and can stop the work inside one large file, rarely enough to cost
    // nothing next to the work.
    static constexpr std::uint64_t kStepBytes = 128u << 10;

    Reporter(PxLibCallback callback, void *callerObject) : callback_(callback), callerObject_(callerObject) {}

    // Each returns true when the work must stop.
    bool File(const std::string &name, std::uint64_t size);
    // Counts bytes of work done; a step goes out once kStepBytes have gathered.
    bool Advance(std::uint64_t bytes);
    // An attempt at data that is then read again (another password) counted its bytes
    // already: Counted() before and after it tells how many, Uncount() keeps the next
    // attempt's first bytes from counting twice, and DropUncounted() ends that.
    std::uint64_t Counted() const { return counted_; }
    void Uncount(std::uint64_t bytes) { uncounted_ += bytes; }
    void DropUncounted() { uncounted_ = 0; }
    // A step now, with the bytes gathered so far (perhaps none): a long phase that
    // moves no bytes still lets the caller answer and stop it.
    bool Step();
    // Announces how many bytes the steps of this call will add up to.
    bool Total(std::uint64_t bytes);
    // Sends what is still gathered, then the end report.
    void End();
    void Warning(const std::string &text) { Message(0, text); }
    void Error(int code, const std::string &text) { Message(code, text); }

    // A PX_ACTION_PASSWORD request (reason PX_PASSWORD_*, naming the entry). With Given,
    // `out` holds the password; the record's copy is wiped either way. A caller that
    // answers "stop" declines, and Stopped() tells.
    PasswordAnswer AskPassword(int reason, const std::string &entry, Secret &out);
    // Whether a request can reach anyone: without a callback every one goes unanswered.
    bool CanAsk() const { return callback_ != nullptr; }

    bool Stopped() const { return stopped_; }

private:
    void Message(int code, const std::string &text);
    bool SendStep(const std::string &text);
    bool Send(int32_t action, int32_t errorCode, std::int64_t fileSize, const std::string &text);

    PxLibCallback callback_;
    void *callerObject_;
    bool stopped_ = false;
    std::uint64_t pending_ = 0; // bytes done since the last step
    std::uint64_t counted_ = 0;
    std::uint64_t uncounted_ = 0; // bytes to be done again before any count
    LibCallbackInfo record_{};    // one per exec call, filled anew for every report
};

} // namespace pellux::libs
