#include "libs/common/Reporter.h"

#include "util/ZipRecords.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace pellux::libs {

namespace {
std::int64_t ClampToInt32(std::uint64_t value)
{
    return static_cast<std::int64_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::int32_t>::max()));
}
} // namespace

bool Reporter::File(const std::string &name, std::uint64_t size)
{
    return Send(PX_ACTION_FILE, 0, ClampToInt32(size), name);
}

bool Reporter::Advance(std::uint64_t bytes)
{
    counted_ += bytes;
    const std::uint64_t again = std::min(uncounted_, bytes);
    uncounted_ -= again;
    pending_ += bytes - again;
    if (pending_ < kStepBytes)
        return stopped_;
    return SendStep(std::string());
}

bool Reporter::Step() { return SendStep(std::string()); }

bool Reporter::Total(std::uint64_t bytes) { return SendStep(std::to_string(bytes)); }

void Reporter::End()
{
    if (pending_ > 0)
        SendStep(std::string());
    Send(PX_ACTION_END, 0, 0, std::string());
}

PasswordAnswer Reporter::AskPassword(int reason, const std::string &entry, Secret &out)
{
    out.Wipe();
    if (!callback_)
        return PasswordAnswer::Unanswered;
    Send(PX_ACTION_PASSWORD, reason, PX_PASSWORD_UNANSWERED, VisibleText(entry));
    LibCallbackInfo &info = record_;
    PasswordAnswer answer = PasswordAnswer::Unanswered;
    if (stopped_)
        answer = PasswordAnswer::Declined;
    else if (info.FileSize == PX_PASSWORD_GIVEN) {
        out.Assign(std::string_view(info.Text, ::strnlen(info.Text, sizeof info.Text)));
        answer = PasswordAnswer::Given;
    } else if (info.FileSize == PX_PASSWORD_DECLINED)
        answer = PasswordAnswer::Declined;
    ::explicit_bzero(info.Text, sizeof info.Text);
    info.FileSize = 0;
    return answer;
}

// Messages quote names, path components and link targets from the archive: whatever
// the caller shows them on, their control characters must not reach it raw.
void Reporter::Message(int code, const std::string &text) { Send(PX_ACTION_MESSAGE, code, 0, VisibleText(text)); }

// A step carries the bytes done since the previous one in the 32-bit FileSize; a
// larger count goes out as several steps.
bool Reporter::SendStep(const std::string &text)
{
    do {
        const std::int64_t part = ClampToInt32(pending_);
        pending_ -= static_cast<std::uint64_t>(part);
        Send(PX_ACTION_STEP, 0, part, pending_ == 0 ? text : std::string());
    } while (pending_ > 0);
    return stopped_;
}

bool Reporter::Send(int32_t action, int32_t errorCode, std::int64_t fileSize, const std::string &text)
{
    if (!callback_)
        return stopped_;
    LibCallbackInfo &info = record_;
    info.Handle = 0;
    info.CallerObject = callerObject_;
    info.ActionCode = action;
    info.ErrorCode = errorCode;
    info.FileSize = static_cast<int32_t>(fileSize);
    const std::size_t n = std::min(text.size(), sizeof(info.Text) - 1);
    std::memcpy(info.Text, text.data(), n);
    info.Text[n] = '\0';
    if (callback_(&info) != 0)
        stopped_ = true;
    return stopped_;
}

} // namespace pellux::libs
