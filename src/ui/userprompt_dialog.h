#pragma once
// The window-based operator prompt: a modeless dialog with a text, a warning icon and a
// Cancel button. ShowPrompt returns at once; the waiting code polls Cancelled.
#include <memory>
#include <string>

#include "flash/userprompt.h"
#include "framework/forms/form.h"

const TFormDesc& dlgUserPromptDesc();

class TdlgUserPrompt {
    std::unique_ptr<TForm> FForm; // first: the controls below are its

public:
    explicit TdlgUserPrompt(TForm* owner = nullptr);

    TForm& Form() const { return *FForm; }
    void SetPromptText(const std::string& text);
    // The prompt's whole state: mrNone, or mrCancel once the operator asked to cancel.
    int ModalResult() const { return FForm->ModalResult(); }

    TLabel& lblDialogText;
    TImage& Image1;
    TButton& CancelBtn;

private:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void Relayout();
};

class TUserPromptDialog : public TUserPrompt {
public:
    // owner: the window the dialog stays above.
    explicit TUserPromptDialog(TForm* owner = nullptr);
    ~TUserPromptDialog() override;

    void ShowPrompt(const std::string& text) override;
    bool Cancelled() override;
    void HidePrompt() override;

    TdlgUserPrompt* Dialog() const { return FDialog.get(); }

private:
    std::unique_ptr<TdlgUserPrompt> FDialog;
};
