#pragma once
// A top-level window whose outer size (frame included) is fixed by design. The frame
// is known only after a window manager has framed the window, so the client is fitted
// then, once; later the user may resize it freely.
#include <QSize>

class QWidget;

namespace pellux {

// Sizes the client to Outer now and, the first time a frame is seen, to Outer less
// the frame. Call it before the window is first shown.
void KeepOuterSizeOnceFramed(QWidget *window, QSize Outer);

} // namespace pellux
