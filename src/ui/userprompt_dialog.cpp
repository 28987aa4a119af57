#include "ui/userprompt_dialog.h"

#include "ui/componentowner.h"
#include "ui/icons.h"

#include <QCloseEvent>
#include <algorithm>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

namespace {
constexpr int FormWidth = 313;
constexpr int FormHeight = 109;
constexpr int ButtonLeft = 127;
constexpr int ButtonTop = 68;
} // namespace

TdlgUserPrompt::TdlgUserPrompt(QWidget* parent) : QDialog(parent, FixedDialogFlags(true))
{
    setObjectName(QStringLiteral("dlgUserPrompt"));
    setFont(FormFont());
    setModal(false);
    setFixedSize(FormWidth, FormHeight);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(WarningIcon32());
    Image1->setGeometry(16, 16, 32, 32);

    lblDialogText = new QLabel(this);
    lblDialogText->setObjectName(QStringLiteral("lblDialogText"));
    lblDialogText->setTextFormat(Qt::PlainText);
    lblDialogText->move(64, 16);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(ButtonLeft, ButtonTop, 75, 25);
    // Shown without a modal loop, so the button only records the wish to cancel.
    connect(CancelBtn, &QPushButton::clicked, this, [this] { FModalResult = mrCancel; });

    FormCreate();
    Relayout();
}

void TdlgUserPrompt::FormCreate()
{
    setWindowTitle(QStringLiteral("User Intervention Required..."));
}

void TdlgUserPrompt::FormShow()
{
    FModalResult = mrNone;
}

void TdlgUserPrompt::SetPromptText(const std::string& text)
{
    lblDialogText->setText(ToQString(text));
    Relayout();
}

// A text longer or taller than the design leaves room for widens or deepens the window
// rather than being cut off.
void TdlgUserPrompt::Relayout()
{
    lblDialogText->adjustSize();
    int width = std::max(FormWidth, lblDialogText->geometry().right() + 1 + 16);
    int buttonTop = std::max(ButtonTop, lblDialogText->geometry().bottom() + 1 + 12);
    int height = buttonTop + 25 + FormHeight - ButtonTop - 25;
    CancelBtn->move(ButtonLeft + (width - FormWidth) / 2, buttonTop);
    setFixedSize(width, height);
}

void TdlgUserPrompt::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}

void TdlgUserPrompt::closeEvent(QCloseEvent* event)
{
    // Closing by the close box, the window menu or Alt+F4 means Cancel; the prompt stays.
    FModalResult = mrCancel;
    event->ignore();
}

void TdlgUserPrompt::reject()
{
    FModalResult = mrCancel;
}

TUserPromptDialog::TUserPromptDialog(QObject* owner)
{
    OwnComponent(owner, this);
    auto* parentWidget = qobject_cast<QWidget*>(owner);
    FDialog = new TdlgUserPrompt(parentWidget);
}

TUserPromptDialog::~TUserPromptDialog()
{
    // The dialog may already be gone with its parent window.
    delete FDialog.data();
}

void TUserPromptDialog::ShowPrompt(const std::string& text)
{
    if (!FDialog)
        return;
    FDialog->SetPromptText(text);
    if (!FDialog->isVisible())
        CenterOnMainForm(FDialog);
    FDialog->show();
    FDialog->raise();
    FDialog->activateWindow();
}

bool TUserPromptDialog::Cancelled()
{
    return FDialog && FDialog->ModalResult() == mrCancel;
}

void TUserPromptDialog::HidePrompt()
{
    if (FDialog)
        FDialog->hide();
}
