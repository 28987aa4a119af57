// Message boxes, the cursor, web addresses and the application object on Qt.
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include <cstdlib>

#include "framework/forms/application.h"
#include "framework/forms/backend.h"
#include "framework/forms/form.h"
#include "framework/forms/qt/form_qt.h"
#include "framework/forms/qt/icons_qt.h"

namespace {

QString Q(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<int>(s.size()));
}

} // namespace

void BackendMessageBox(TBoxIcon icon, const std::string& caption, const std::string& text)
{
    const QMessageBox::Icon qicon = icon == TBoxIcon::Information ? QMessageBox::Information
        : icon == TBoxIcon::Question                              ? QMessageBox::Question
        : icon == TBoxIcon::Stop                                  ? QMessageBox::Critical
                                                                  : QMessageBox::NoIcon;
    // The texts use bare carriage returns as line breaks.
    QString shown = Q(text);
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(qicon, Q(caption), shown, QMessageBox::Ok, MainForm() ? QtWindowOf(*MainForm()) : nullptr);
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
}

void BackendSetBusyCursor(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void BackendOpenUrl(const std::string& address)
{
    QDesktopServices::openUrl(QUrl(Q(address)));
}

struct TWindowApplication::TImpl {
    TImpl(int& argc, char** argv) : App(argc, argv) { QApplication::setWindowIcon(MoraventAppIcon()); }
    QApplication App;
};

TWindowApplication::TWindowApplication(int& argc, char** argv) : FImpl(std::make_unique<TImpl>(argc, argv)) { }

TWindowApplication::~TWindowApplication() = default;

int TWindowApplication::Run(TForm& mainForm)
{
    mainForm.Show();
    return QApplication::exec();
}

bool WindowsAvailable(std::string& why)
{
    // Qt ends the process when it finds no display; a person is told instead.
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    why = "there is no display (DISPLAY is not set)";
    return false;
}
