#include "dialogs/DialogLook.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace pellux::look {

void CentreOnScreen(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->geometry().center());
    window->move(frame.topLeft());
}

void NoDefaultButtons(QWidget *window)
{
    // Qt makes the focused push button of a dialog the default one; these windows have
    // none, so Enter acts only through the control that has the focus.
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

bool SwallowEscape(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier)
        return false;
    event->accept();
    return true;
}

QString VisibleText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (++i == text.size())
                break;
        }
        shown += text[i];
    }
    return shown;
}

int TextWidth(const QLabel *label)
{
    return label->fontMetrics().horizontalAdvance(VisibleText(label->text())) + 2 * label->margin()
        + 2 * label->frameWidth();
}

int TextWidth(const QPushButton *button)
{
    // What the common style adds around a button's contents, without the minimum width
    // some styles give every button: that one the stored layout sets itself.
    QStyleOptionButton option;
    option.initFrom(button);
    const QStyle *style = button->style();
    const int margins = 2
        * (style->pixelMetric(QStyle::PM_ButtonMargin, &option, button)
           + style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button));
    int width = button->fontMetrics().horizontalAdvance(VisibleText(button->text())) + margins;
    if (!button->icon().isNull())
        width += button->iconSize().width() + 4;
    return width;
}

int FitText(QLabel *label)
{
    QRect rect = label->geometry();
    const int growth = std::max(0, TextWidth(label) - rect.width());
    rect.setWidth(rect.width() + growth);
    const int height = label->fontMetrics().height() + 2 * label->margin() + 2 * label->frameWidth();
    if (height > rect.height()) {
        const int centre = rect.center().y();
        rect.setHeight(height);
        rect.moveCenter(QPoint(rect.center().x(), centre));
    }
    label->setGeometry(rect);
    return growth;
}

} // namespace pellux::look
