#include "libs/common/Reporter.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace pellux::libs {

bool Reporter::File(const std::string &name, std::uint64_t size)
{
    return Send(PX_ACTION_FILE, 0, static_cast<std::int64_t>(std::min<std::uint64_t>(size, std::numeric_limits<std::int32_t>::max())), name);
}

bool Reporter::Step() { return Send(PX_ACTION_STEP, 0, 0, std::string()); }

void Reporter::End() { Send(PX_ACTION_END, 0, 0, std::string()); }

void Reporter::Message(int code, const std::string &text) { Send(PX_ACTION_MESSAGE, code, 0, text); }

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
