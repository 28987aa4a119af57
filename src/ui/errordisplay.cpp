#include "errordisplay.h"

#include "exceptions.h"

#include <QApplication>
#include <QMessageBox>
#include <stdexcept>

std::function<void(const std::exception&)> ErrorDisplayHook = DefaultErrorDisplay;

void DefaultErrorDisplay(const std::exception& e)
{
    QString caption = QApplication::applicationDisplayName();
    if (caption.isEmpty())
        caption = QStringLiteral("Moravent Flash Programmer");
    QMessageBox box(QMessageBox::Critical, caption, QString::fromLatin1(WithFullStop(e.what())),
                    QMessageBox::Ok);
    box.exec();
}

void ShowException(const std::exception& e) noexcept
{
    try {
        if (ErrorDisplayHook)
            ErrorDisplayHook(e);
    } catch (...) {
        // A failing display must not take the event loop down with it.
    }
}
