// moravent-flash: the programming tool's window. Everything it programs comes from the
// stored data block inside this executable.
#include <QApplication>
#include <QMessageBox>
#include <typeinfo>

#include "about.h"
#include "exceptions.h"
#include "formutil.h"
#include "icons.h"
#include "msgdialog.h"
#include "user.h"
#include "usrserial.h"
#include "wizard.h"

namespace {

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
