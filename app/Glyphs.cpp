#include "app/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace pellux::toolglyphs {

namespace {

const QColor kYellow(255, 221, 64);
const QColor kDarkYellow(176, 140, 0);
const QColor kRed(220, 40, 40);
const QColor kDarkRed(128, 0, 0);

// Draws at 1x in the glyph's own pixel grid and lets the icon scale for HiDPI.
template <class Draw>
QIcon Make(int width, int height, Draw draw)
{
    QPixmap pixmap(width * 2, height * 2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.scale(2, 2);
    draw(p);
    p.end();
    pixmap.setDevicePixelRatio(2);
    return QIcon(pixmap);
}

void ClosedFolder(QPainter &p, int x)
{
    p.setPen(kDarkYellow);
    p.setBrush(kYellow);
    p.drawRect(x + 0, 2, 5, 2);  // tab
    p.drawRect(x + 0, 4, 13, 9); // body
}

void OpenFolder(QPainter &p, int x)
{
    p.setPen(kDarkYellow);
    p.setBrush(kDarkYellow.lighter(150));
    p.drawRect(x + 0, 2, 5, 2);
    p.drawRect(x + 0, 4, 11, 9);
    p.setBrush(kYellow);
    QPolygon front;
    front << QPoint(x + 2, 7) << QPoint(x + 13, 7) << QPoint(x + 11, 13) << QPoint(x + 0, 13);
    p.drawPolygon(front);
}

void Sheet(QPainter &p, int x, const QColor &fill, const QColor &edge)
{
    p.setPen(edge);
    p.setBrush(fill);
    QPolygon sheet;
    sheet << QPoint(x + 1, 0) << QPoint(x + 8, 0) << QPoint(x + 11, 3) << QPoint(x + 11, 13) << QPoint(x + 1, 13);
    p.drawPolygon(sheet);
    p.drawLine(x + 8, 0, x + 8, 3);
    p.drawLine(x + 8, 3, x + 11, 3);
}

void Plus(QPainter &p, int x, const QColor &ink)
{
    p.fillRect(x + 3, 4, 2, 8, ink);
    p.fillRect(x + 0, 7, 8, 2, ink);
}

void Minus(QPainter &p, int x, const QColor &ink) { p.fillRect(x + 0, 7, 8, 2, ink); }

void Arrow(QPainter &p, int x, const QColor &ink)
{
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(x, 6, 2, 3);
    QPolygon head;
    head << QPoint(x + 2, 3) << QPoint(x + 5, 7) << QPoint(x + 2, 11);
    p.drawPolygon(head);
}

} // namespace

QIcon NewArchive()
{
    return Make(14, 14, [](QPainter &p) { ClosedFolder(p, 0); });
}

QIcon OpenArchive()
{
    return Make(14, 14, [](QPainter &p) { OpenFolder(p, 0); });
}

QIcon AddFiles(const QColor &ink)
{
    return Make(22, 14, [&ink](QPainter &p) {
        Plus(p, 0, ink);
        Sheet(p, 10, kYellow, kDarkYellow);
    });
}

QIcon AddDirectory(const QColor &ink)
{
    return Make(23, 14, [&ink](QPainter &p) {
        Plus(p, 0, ink);
        ClosedFolder(p, 9);
    });
}

QIcon DeleteFiles(const QColor &ink)
{
    return Make(22, 14, [&ink](QPainter &p) {
        Minus(p, 0, ink);
        Sheet(p, 10, kRed, kDarkRed);
    });
}

QIcon ExtractSelected(const QColor &ink)
{
    return Make(23, 14, [&ink](QPainter &p) {
        ClosedFolder(p, 0);
        Arrow(p, 16, ink);
    });
}

QIcon ExtractAll(const QColor &ink)
{
    return Make(23, 14, [&ink](QPainter &p) {
        ClosedFolder(p, 0);
        Arrow(p, 15, ink);
        Arrow(p, 19, ink);
    });
}

QIcon Locked()
{
    return Make(14, 14, [](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        QPen shackle(QColor(96, 96, 104), 1.6);
        p.setPen(shackle);
        p.setBrush(Qt::NoBrush);
        QPainterPath bow;
        bow.moveTo(4, 7);
        bow.lineTo(4, 4.5);
        bow.arcTo(4, 1, 6, 6, 180, -180);
        bow.lineTo(10, 7);
        p.drawPath(bow);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(kDarkYellow);
        p.setBrush(kYellow);
        p.drawRect(2, 6, 10, 7);             // body
        p.fillRect(6, 8, 2, 3, kDarkYellow); // keyhole
    });
}

QIcon Warned()
{
    return Make(14, 14, [](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(kDarkYellow, 1));
        p.setBrush(kYellow);
        p.drawPolygon(QPolygonF({QPointF(7, 0.5), QPointF(13.5, 13), QPointF(0.5, 13)}));
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(6, 4, 2, 5, Qt::black); // the exclamation mark
        p.fillRect(6, 10, 2, 2, Qt::black);
    });
}

QIcon Unmarked()
{
    return Make(14, 14, [](QPainter &) {});
}

} // namespace pellux::toolglyphs
