#pragma once
// The answers of the modal windows: 1 confirmed ("&OK", "&Finish"), 2 cancelled
// ("&Cancel" or the close box). Callers go on only on mrOk.

namespace pellux {

inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

} // namespace pellux
