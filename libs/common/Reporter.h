#pragma once
// The only way back from a library to its caller: one callback record per report. Once
// the caller has answered "stop", the reporter remembers it and the work winds down.
#include "zip/ZipCallback.h"

#include <cstdint>
#include <string>

namespace pellux::libs {

class Reporter {
public:
    Reporter(PxLibCallback callback, void *callerObject) : callback_(callback), callerObject_(callerObject) {}

    // Each returns true when the work must stop.
    bool File(const std::string &name, std::uint64_t size);
    bool Step();
    void End();
    void Warning(const std::string &text) { Message(0, text); }
    void Error(int code, const std::string &text) { Message(code, text); }

    bool Stopped() const { return stopped_; }

private:
    void Message(int code, const std::string &text);
    bool Send(int32_t action, int32_t errorCode, std::int64_t fileSize, const std::string &text);

    PxLibCallback callback_;
    void *callerObject_;
    bool stopped_ = false;
    LibCallbackInfo record_{}; // one per exec call, filled anew for every report
};

} // namespace pellux::libs
