#pragma once
// Internals shared by the bridge and the operations of TZipEngine.
#include <exception>

namespace pellux {

class TZipEngine;

// The callback learns whether a CallerObject is a live component from this registry.
void RegisterEngine(TZipEngine *engine);
void UnregisterEngine(TZipEngine *engine);

// An exception raised inside the callback cannot cross the library's C frames; it is
// kept here and treated as raised by the library call once that call returns.
std::exception_ptr TakeCallbackError();

} // namespace pellux
