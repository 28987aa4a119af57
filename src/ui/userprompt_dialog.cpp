#include "ui/userprompt_dialog.h"

#include <algorithm>

namespace {
constexpr int FormWidth = 313;
constexpr int FormHeight = 109;
constexpr int ButtonLeft = 127;
constexpr int ButtonTop = 68;
} // namespace

const TFormDesc& dlgUserPromptDesc()
{
    static const TFormDesc desc = [] {
        TFormDesc d;
        d.Name = "dlgUserPrompt";
        d.ClientWidth = FormWidth;
        d.ClientHeight = FormHeight;
        d.Controls = {
            {.Kind = TControlKind::Label, .Name = "lblDialogText", .Bounds = {64, 16, 0, 13}, .AutoSize = true},
            {.Kind = TControlKind::Image, .Name = "Image1", .Bounds = {16, 16, 32, 32}},
            {.Kind = TControlKind::Button,
             .Name = "CancelBtn",
             .Bounds = {ButtonLeft, ButtonTop, 75, 25},
             .Caption = "Cancel",
             .ModalResult = mrCancel,
             .Cancel = true},
        };
        return d;
    }();
    return desc;
}

TdlgUserPrompt::TdlgUserPrompt(TForm* owner)
    : FForm(TForm::Create(dlgUserPromptDesc(), owner)), lblDialogText(FForm->Get<TLabel>("lblDialogText")),
      Image1(FForm->Get<TImage>("Image1")), CancelBtn(FForm->Get<TButton>("CancelBtn"))
{
    Image1.SetStockIcon(TStockIcon::Warning);
    FForm->OnShow = [this] { FormShow(); };
    FForm->OnCloseQuery = [this] { return FormCloseQuery(); };
    FormCreate();
    Relayout();
}

void TdlgUserPrompt::FormCreate()
{
    FForm->SetCaption("User Intervention Required...");
}

void TdlgUserPrompt::FormShow()
{
    FForm->SetModalResult(mrNone);
}

// Closing by the close box, the window menu or Alt+F4 means Cancel; the prompt stays.
bool TdlgUserPrompt::FormCloseQuery()
{
    FForm->SetModalResult(mrCancel);
    return false;
}

void TdlgUserPrompt::SetPromptText(const std::string& text)
{
    lblDialogText.SetCaption(text);
    Relayout();
}

// A text longer or taller than the design leaves room for widens or deepens the window
// rather than being cut off.
void TdlgUserPrompt::Relayout()
{
    const TRect text = lblDialogText.Bounds();
    const int width = std::max(FormWidth, text.Right() + 16);
    const int buttonTop = std::max(ButtonTop, text.Bottom() + 12);
    const int height = buttonTop + FormHeight - ButtonTop;
    CancelBtn.SetBounds({ButtonLeft + (width - FormWidth) / 2, buttonTop, 75, 25});
    FForm->SetClientSize(width, height);
}

TUserPromptDialog::TUserPromptDialog(TForm* owner) : FDialog(std::make_unique<TdlgUserPrompt>(owner)) { }

TUserPromptDialog::~TUserPromptDialog() = default;

void TUserPromptDialog::ShowPrompt(const std::string& text)
{
    FDialog->SetPromptText(text);
    FDialog->Form().Show();
}

bool TUserPromptDialog::Cancelled()
{
    return FDialog->ModalResult() == mrCancel;
}

void TUserPromptDialog::HidePrompt()
{
    FDialog->Form().Hide();
}
