#include "ui/formutil.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace {
QPointer<QWidget> TheMainForm;
}

QFont FormFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void SetMainForm(QWidget* form)
{
    TheMainForm = form;
}

QWidget* MainForm()
{
    return TheMainForm.data();
}

void CenterOnMainForm(QWidget* window)
{
    QWidget* over = TheMainForm.data();
    if (over == window)
        over = nullptr;
    if (!over && window->parentWidget())
        over = window->parentWidget()->window();
    QRect area;
    if (over && over->isVisible()) {
        area = over->frameGeometry();
    } else {
        QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        area = screen->availableGeometry();
    }
    QSize frame = window->frameGeometry().size();
    const QSize client = window->size();
    // Before the first showing the frame is not known yet: assume the decoration the
    // main window has.
    if (frame == client && over && over->isVisible())
        frame = client + (over->frameGeometry().size() - over->size());
    window->move(area.center().x() - frame.width() / 2, area.center().y() - frame.height() / 2);
}

int RoundHalfEven(double value)
{
    double floor = std::floor(value);
    double diff = value - floor;
    if (diff > 0.5)
        return static_cast<int>(floor) + 1;
    if (diff < 0.5)
        return static_cast<int>(floor);
    long whole = static_cast<long>(floor);
    return static_cast<int>(whole % 2 == 0 ? whole : whole + 1);
}

Qt::WindowFlags FixedDialogFlags(bool withClose)
{
    Qt::WindowFlags flags =
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    if (withClose)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
}
