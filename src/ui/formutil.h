#pragma once
// Small helpers shared by the tool's windows: the common font, fixed client sizes,
// centring over the main window and the byte-string/QString edge.
#include <QFont>
#include <QString>
#include <string>

class QWidget;

// The platform's default sans-serif at the given pixel height (11 for every window,
// 21 bold for the About title).
QFont FormFont(int pixelSize = 11, bool bold = false);

// The window that dialogs centre on. Set by the main program; when unset a dialog
// centres on its parent window, or on the screen when it has none.
void SetMainForm(QWidget* form);
QWidget* MainForm();

// Moves a top-level window so its frame is centred over the main window.
void CenterOnMainForm(QWidget* window);

// Nearest integer, halves to the even neighbour.
int RoundHalfEven(double value);

inline QString ToQString(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<int>(s.size()));
}
inline std::string FromQString(const QString& s)
{
    return s.toLatin1().toStdString();
}

// Modal results as the windows report them; exec() returns QDialog::Accepted for mrOk
// and QDialog::Rejected for mrCancel.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

// Window flags of a fixed-size dialog with a title bar; withClose adds the close box.
Qt::WindowFlags FixedDialogFlags(bool withClose = true);
