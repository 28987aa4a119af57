// moravent-flash: the programming tool's window. Everything it programs comes from the
// stored data block inside this executable.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "framework/cmdline.h"
#include "framework/exceptions.h"
#include "ui/about.h"
#include "ui/formutil.h"
#include "ui/icons.h"
#include "ui/msgdialog.h"
#include "ui/user.h"
#include "ui/usrserial.h"
#include "ui/wizard.h"

namespace {

const char Usage[] = "usage: moravent-flash [--help | --version]\n"
                     "\n"
                     "The operator's window for programming a unit with the job stamped into this\n"
                     "program by 'moravent-job build'. It takes no other options.\n"
                     "  --help     this text\n"
                     "  --version  the program's name and version\n";

// False when --help or --version has been answered.
bool ParseArguments(int argc, char** argv)
{
    TCommandLine cmd("moravent-flash", Usage);
    cmd.UnknownOptionText = "unknown option \"%1\" (it takes none but --help and --version)";
    if (!cmd.Parse(argc, argv))
        return false;
    if (!cmd.Positional().empty())
        throw EUsageError("unknown argument '" + cmd.Positional()[0] + "'");
    return true;
}

// Qt ends the process when it finds no display; a person is told instead.
bool DisplayAvailable()
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

// Last resort for a window that cannot be created at start-up: the program cannot run.
int ApplicationError(const std::exception& e)
{
    const auto* ours = dynamic_cast<const Exception*>(&e);
    const QString text =
        QStringLiteral("Exception %1 in module moravent-flash.\n%2")
            .arg(QString::fromLatin1(ours ? ours->className() : typeid(e).name()), ToQString(WithFullStop(e.what())));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), text, QMessageBox::Ok);
    box.exec();
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool goOn = true;
    if (const int status =
            RunMain("moravent-flash",
                    [&] {
                        goOn = ParseArguments(argc, argv);
                        if (goOn && !DisplayAvailable())
                            throw Exception("cannot open a window: there is no display (DISPLAY is not set)");
                        return ExitOk;
                    });
        status != ExitOk || !goOn)
        return status;
    QApplication app(argc, argv);
    SetApplicationTitle(QString::fromLatin1(DefaultApplicationTitle));
    app.setWindowIcon(MoraventAppIcon());

    try {
        auto* frmUserFlash = new TfrmUserFlash();
        SetMainForm(frmUserFlash);
        frmAbout = new TfrmAbout(frmUserFlash);
        frmUsrSerial = new TfrmUsrSerial(frmUserFlash);
        frmConnectWiz = new TfrmConnectWiz(frmUserFlash);
        frmUserFlash->setAttribute(Qt::WA_DeleteOnClose);
        frmUserFlash->show();
    } catch (const std::exception& e) {
        return ApplicationError(e);
    }
    return app.exec();
}
