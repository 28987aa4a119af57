#include "framework/forms/qt/icons_qt.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

QPixmap WarningIcon32()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(16, 2);
    triangle.lineTo(30.5, 29);
    triangle.lineTo(1.5, 29);
    triangle.closeSubpath();
    p.setPen(QPen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(255, 212, 0));
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    // The mark: a tapering bar and a dot.
    QPainterPath bar;
    bar.moveTo(14.2, 10);
    bar.lineTo(17.8, 10);
    bar.lineTo(16.8, 21);
    bar.lineTo(15.2, 21);
    bar.closeSubpath();
    p.drawPath(bar);
    p.drawEllipse(QPointF(16, 24.8), 1.9, 1.9);
    return pixmap;
}

QIcon MoraventAppIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        double s = size / 32.0;
        p.scale(s, s);
        // A chip with pins, the letters MV on it.
        p.setPen(QPen(QColor(60, 60, 60), 1.5));
        for (int i = 0; i < 4; ++i) {
            double y = 9 + i * 5;
            p.drawLine(QPointF(2, y), QPointF(6, y));
            p.drawLine(QPointF(26, y), QPointF(30, y));
        }
        p.setPen(QPen(QColor(20, 40, 90), 1));
        p.setBrush(QColor(30, 80, 170));
        p.drawRoundedRect(QRectF(5.5, 4.5, 21, 23), 3, 3);
        p.setPen(Qt::white);
        QFont font(QStringLiteral("Sans Serif"));
        font.setStyleHint(QFont::SansSerif);
        font.setBold(true);
        font.setPixelSize(10);
        p.setFont(font);
        p.drawText(QRectF(5.5, 4.5, 21, 23), Qt::AlignCenter, QStringLiteral("MV"));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon ApplicationIcon()
{
    QIcon icon = QApplication::windowIcon();
    return icon.isNull() ? MoraventAppIcon() : icon;
}

QPixmap StockIconPixmap(TStockIcon icon, int size)
{
    switch (icon) {
    case TStockIcon::Warning: return WarningIcon32();
    case TStockIcon::Application: return ApplicationIcon().pixmap(size, size);
    case TStockIcon::None: break;
    }
    return {};
}
