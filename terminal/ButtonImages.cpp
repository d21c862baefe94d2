#include "terminal/ButtonImages.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace pek {

// The tool buttons show only images; these are drawn here so the program needs no image files.
QIcon ButtonImage(int index)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 0:  // run
        p.setBrush(QColor(0, 128, 0));
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygon({QPoint(4, 2), QPoint(13, 8), QPoint(4, 14)}));
        break;
    case 1:  // ASCII code
        p.setPen(Qt::black);
        p.setFont(QFont("monospace", 7));
        p.drawText(pixmap.rect(), Qt::AlignCenter, "0x");
        break;
    case 2:  // call
        p.setPen(QPen(Qt::darkBlue, 2));
        for (int y : {4, 8, 12}) p.drawLine(3, y, 13, y);
        break;
    case 24:  // log closed
        p.setPen(Qt::darkGray);
        p.setBrush(Qt::white);
        p.drawRect(3, 1, 10, 14);
        break;
    case 25:  // log open: recording
        p.setPen(Qt::darkGray);
        p.setBrush(Qt::white);
        p.drawRect(3, 1, 10, 14);
        p.setBrush(Qt::red);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(8, 8), 4, 4);
        break;
    default:
        break;
    }
    return QIcon(pixmap);
}

}  // namespace pek
