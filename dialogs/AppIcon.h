#pragma once
// Pellux's own program icon: a blue archive with a zipper. docs/pellux.svg is the same
// drawing for the desktop entry.
#include <QIcon>

namespace pellux {

QIcon AppIcon();

} // namespace pellux
