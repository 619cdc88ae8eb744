#pragma once
// Small helpers the dialogs share for building their fixed layouts.
#include <QFont>
#include <QWidget>

class QKeyEvent;
class QLabel;
class QPushButton;

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

// A control's text as drawn: an access letter's '&' is not shown, "&&" shows one '&'.
QString VisibleText(const QString &text);

// The width a label's or a push button's text needs in the control's current font,
// with the margins and frame the style draws around it.
int TextWidth(const QLabel *label);
int TextWidth(const QPushButton *button);

// The stored layouts are drawn for a small font; at the desktop's font a text may need
// more. Widens the label to its text (left edge kept) and makes it tall enough for one
// line (vertical centre kept). Returns how much wider it became.
int FitText(QLabel *label);

} // namespace pellux::look
