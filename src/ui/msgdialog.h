#pragma once
// Message dialogs that are not errors: information (success), confirmation with OK only
// (the switch to the boot method) and error (refusing to close during a run).
#include <QString>
#include <functional>

class QDialog;
class QWidget;

// mtMessage: a plain message box captioned with the application title.
enum TMsgDlgType { mtInformation, mtConfirmation, mtError, mtMessage };

// Shows the dialog modally and returns when the operator has closed it. Replaceable, so
// tests can record and answer dialogs; the default is a QMessageBox with one OK button.
extern std::function<void(TMsgDlgType type, const QString& text)> MessageDlgHook;

void MessageDlg(TMsgDlgType type, const QString& text);

// The caption of each type: "Information", "Confirm", "Error", the application title.
QString MessageDlgCaption(TMsgDlgType type);

// Runs a modal window with the normal cursor, whatever override cursor the caller shows.
int ExecModal(QDialog& dialog);

// The application title: window captions and the error display's caption.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);
