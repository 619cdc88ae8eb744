#pragma once
// Nothing thrown inside a library may cross its C entry point: the caller's frames know
// nothing of our exceptions.
#include "libs/common/PxErrors.h"
#include "libs/common/Reporter.h"

#include <exception>
#include <new>

#define PX_EXPORT extern "C" __attribute__((visibility("default")))

namespace pellux::libs {

template <class F>
int32_t RunAtCBoundary(Reporter &reporter, F &&work) noexcept
{
    try {
        return work();
    } catch (const std::bad_alloc &) {
        reporter.Error(kPxInternalError, "out of memory");
    } catch (const std::exception &error) {
        reporter.Error(kPxInternalError, std::string("internal error: ") + error.what());
    } catch (...) {
        reporter.Error(kPxInternalError, "internal error");
    }
    return 0;
}

// One exec call from start to end: the work, then the end report exactly once, even
// after a failure. Returns the work's count.
template <class Params, class Work>
int32_t ExecCall(Params *params, Work &&work) noexcept
{
    if (!params)
        return 0;
    Reporter reporter(params->CallbackProc, params->CallerObject);
    const int32_t count = RunAtCBoundary(reporter, [&] { return work(*params, reporter); });
    RunAtCBoundary(reporter, [&] {
        reporter.End();
        return 0;
    });
    return count;
}

} // namespace pellux::libs
