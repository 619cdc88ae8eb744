#pragma once
// Pellux's own program icon: a blue archive with a zipper. dist/linux/icons/ holds the
// same drawing for the desktop's icon theme.
#include <QIcon>

namespace pellux {

QIcon AppIcon();

} // namespace pellux
