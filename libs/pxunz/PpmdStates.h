#pragma once
// Small operations on states that the model's updates share.
#include "libs/pxunz/PpmdModel.h"

namespace pellux::libs::ppmd {

inline void SwapStates(State *a, State *b)
{
    const State t = *a;
    *a = *b;
    *b = t;
}

// The context flag that says a symbol of 0x40 or above is among its states.
inline unsigned HighSymbol(unsigned symbol) { return symbol >= 0x40 ? 0x08 : 0; }

} // namespace pellux::libs::ppmd
