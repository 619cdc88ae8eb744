#pragma once
// Small helpers the dialogs share for building their fixed layouts.
#include <QFont>
#include <QWidget>

class QKeyEvent;

namespace pellux::look {

// The desktop's font at the given point size and weight.
inline QFont Font(qreal pointSize, bool bold = false, bool italic = false)
{
    QFont font;
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

inline void SetTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, colour);
    widget->setPalette(palette);
}

inline void SetBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

template <class W>
W *Place(W *widget, const char *name, int left, int top, int width = -1, int height = -1)
{
    widget->setObjectName(QString::fromLatin1(name));
    if (width < 0) {
        widget->adjustSize();
        width = widget->width();
        height = widget->height();
    }
    widget->setGeometry(left, top, width, height);
    return widget;
}

// Moves a window so that its frame is centred on the primary screen.
void CentreOnScreen(QWidget *window);

// Makes no push button of the window its default button, also not the focused one.
// Call it once every button exists.
void NoDefaultButtons(QWidget *window);

// For a key handler of a window without a cancel button: true (event accepted) for a
// bare Escape, which such a window ignores.
bool SwallowEscape(QKeyEvent *event);

} // namespace pellux::look
