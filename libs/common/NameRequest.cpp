#include "libs/common/NameRequest.h"

#include <cstring>

namespace pellux::libs {

std::string AskNameEncoding(PxLibCallback callback, void *callerObject)
{
    if (!callback)
        return {};
    LibCallbackInfo info{};
    info.CallerObject = callerObject;
    info.ActionCode = PX_ACTION_NAME_ENCODING;
    callback(&info);
    if (info.FileSize != PX_ENCODING_GIVEN)
        return {};
    return std::string(info.Text, ::strnlen(info.Text, sizeof info.Text));
}

} // namespace pellux::libs
