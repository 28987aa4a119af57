#include "ui/errordisplay.h"

#include "framework/exceptions.h"
#include "ui/formutil.h"
#include "ui/msgdialog.h"

#include <QApplication>
#include <QMessageBox>
#include <stdexcept>

std::function<void(const std::exception&)> ErrorDisplayHook = DefaultErrorDisplay;

std::string ErrorDisplayText(const std::exception& e)
{
    std::string text = WithFullStop(e.what());
    if (const auto* ours = dynamic_cast<const Exception*>(&e); ours && !ours->Details().empty()) {
        text += "\n";
        for (const std::string& line : ours->Details())
            text += "\n" + line;
    }
    return text;
}

void DefaultErrorDisplay(const std::exception& e)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromLatin1(ErrorDisplayText(e)),
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
