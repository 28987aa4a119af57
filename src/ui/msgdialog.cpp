#include "ui/msgdialog.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

#include "ui/formutil.h"

namespace {

QString& TitleStore()
{
    static QString title = QStringLiteral("Moravent Flash Programmer");
    return title;
}

void DefaultMessageDlg(TMsgDlgType type, const QString& text)
{
    const QMessageBox::Icon icon = type == mtInformation ? QMessageBox::Information
        : type == mtConfirmation                         ? QMessageBox::Question
        : type == mtError                                ? QMessageBox::Critical
                                                         : QMessageBox::NoIcon;
    // The dialogs' texts use bare carriage returns as line breaks.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon, MessageDlgCaption(type), shown, QMessageBox::Ok, MainForm());
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
}

} // namespace

std::function<void(TMsgDlgType, const QString&)> MessageDlgHook = DefaultMessageDlg;

void MessageDlg(TMsgDlgType type, const QString& text)
{
    if (MessageDlgHook)
        MessageDlgHook(type, text);
}

QString MessageDlgCaption(TMsgDlgType type)
{
    switch (type) {
    case mtInformation: return QStringLiteral("Information");
    case mtConfirmation: return QStringLiteral("Confirm");
    case mtError: return QStringLiteral("Error");
    case mtMessage: return ApplicationTitle();
    }
    return {};
}

int ExecModal(QDialog& dialog)
{
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = dialog.exec();
    QApplication::restoreOverrideCursor();
    return result;
}

QString ApplicationTitle()
{
    return TitleStore();
}

void SetApplicationTitle(const QString& title)
{
    TitleStore() = title;
}
