#include "errordisplay.h"

#include "exceptions.h"
#include "formutil.h"
#include "msgdialog.h"

#include <QApplication>
#include <QMessageBox>
#include <stdexcept>

std::function<void(const std::exception&)> ErrorDisplayHook = DefaultErrorDisplay;

void DefaultErrorDisplay(const std::exception& e)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromLatin1(WithFullStop(e.what())),
                    QMessageBox::Ok, MainForm());
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
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
