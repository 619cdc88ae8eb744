#include "dialogs/Glyphs.h"

#include "dialogs/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace pellux::glyphs {

namespace {
// Draws in a 16 x 16 (or 32 x 32 for the program icon) design grid scaled to `size`.
using Drawing = std::function<void(QPainter &, bool grey)>;

QColor Tone(const QColor &colour, bool grey)
{
    if (!grey)
        return colour;
    const int level = 96 + qGray(colour.rgb()) / 2;
    return QColor(level, level, level);
}

QPixmap Render(int size, qreal grid, bool grey, const Drawing &draw)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / grid, size / grid);
    draw(painter, grey);
    return pixmap;
}

QIcon SmallIcon(const Drawing &draw)
{
    QIcon icon;
    for (int size : {16, 32}) {
        icon.addPixmap(Render(size, 16, false, draw), QIcon::Normal);
        icon.addPixmap(Render(size, 16, true, draw), QIcon::Disabled);
    }
    return icon;
}

void DrawPage(QPainter &p, bool grey)
{
    QPainterPath page;
    page.moveTo(2.5, 1.5);
    page.lineTo(9.5, 1.5);
    page.lineTo(12.5, 4.5);
    page.lineTo(12.5, 14.5);
    page.lineTo(2.5, 14.5);
    page.closeSubpath();
    p.setPen(QPen(Tone(QColor(60, 60, 60), grey), 1));
    p.setBrush(Tone(Qt::white, grey));
    p.drawPath(page);
    p.drawLine(QPointF(9.5, 1.5), QPointF(9.5, 4.5));
    p.drawLine(QPointF(9.5, 4.5), QPointF(12.5, 4.5));
    // the zipper down the page
    p.setPen(Qt::NoPen);
    p.setBrush(Tone(QColor(31, 95, 191), grey));
    for (int y = 3; y < 12; y += 2)
        p.drawRect(QRectF(y % 4 == 1 ? 5 : 6, y, 2, 1));
}

void DrawNewArchive(QPainter &p, bool grey)
{
    DrawPage(p, grey);
    p.setBrush(Tone(QColor(20, 150, 40), grey));
    p.drawRect(QRectF(10, 9, 6, 2)); // plus, across
    p.drawRect(QRectF(12, 7, 2, 6)); // plus, up
}

void DrawFolder(QPainter &p, bool grey, bool open)
{
    const QColor edge = Tone(QColor(150, 110, 20), grey);
    p.setPen(QPen(edge, 1));
    p.setBrush(Tone(QColor(230, 180, 60), grey));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6.5, 3.5);
    back.lineTo(7.5, 4.5);
    back.lineTo(13.5, 4.5);
    back.lineTo(13.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(Tone(QColor(250, 210, 100), grey));
    if (open) {
        QPainterPath front;
        front.moveTo(1.5, 13.5);
        front.lineTo(4.5, 7.5);
        front.lineTo(15.5, 7.5);
        front.lineTo(13.5, 13.5);
        front.closeSubpath();
        p.drawPath(front);
    } else {
        p.drawRect(QRectF(1.5, 6.5, 12, 7));
    }
}

void DrawOpenArchive(QPainter &p, bool grey)
{
    DrawFolder(p, grey, true);
    p.setPen(QPen(Tone(QColor(31, 95, 191), grey), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(9, 6), QPointF(13, 2));
    p.drawLine(QPointF(10, 2), QPointF(13, 2));
    p.drawLine(QPointF(13, 2), QPointF(13, 5));
}

void DrawTick(QPainter &p, bool grey)
{
    QPen pen(Tone(QColor(0, 140, 0), grey), 2.2);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6, 12), QPointF(13.5, 3.5)}));
}

// The program icon in a 32 x 32 grid: a blue box with a yellow zipper and its pull.
void DrawApp(QPainter &p, bool)
{
    p.setPen(QPen(QColor(23, 63, 128), 1.5));
    p.setBrush(QColor(31, 95, 191));
    p.drawRoundedRect(QRectF(2, 2, 28, 28), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(242, 201, 76));
    for (int i = 0; i < 8; ++i)
        p.drawRect(QRectF(i % 2 == 0 ? 12.5 : 16, 4 + 2 * i, 3.5, 1.6));
    p.drawRoundedRect(QRectF(12.5, 20, 7, 8.5), 1.5, 1.5);
    p.setBrush(QColor(31, 95, 191));
    p.drawRoundedRect(QRectF(14.75, 23, 2.5, 3.5), 1, 1);
}
} // namespace

QPixmap AppPixmap(int size) { return Render(size, 32, false, DrawApp); }
QIcon NewArchive() { return SmallIcon(DrawNewArchive); }
QIcon OpenArchive() { return SmallIcon(DrawOpenArchive); }
QIcon FolderOpen()
{
    return SmallIcon([](QPainter &p, bool grey) { DrawFolder(p, grey, true); });
}
QIcon FolderClosed()
{
    return SmallIcon([](QPainter &p, bool grey) { DrawFolder(p, grey, false); });
}
QIcon OkTick() { return SmallIcon(DrawTick); }

} // namespace pellux::glyphs

namespace pellux {

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64, 128, 256})
        icon.addPixmap(glyphs::AppPixmap(size));
    return icon;
}

} // namespace pellux
