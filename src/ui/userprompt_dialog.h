#pragma once
// The window-based operator prompt: a modeless dialog with a text, a warning icon and a
// Cancel button. ShowPrompt returns at once; the waiting code polls Cancelled.
#include "flash/userprompt.h"
#include "ui/formutil.h"

#include <QDialog>
#include <QPointer>
#include <string>

class QLabel;
class QPushButton;

class TdlgUserPrompt : public QDialog {
    Q_OBJECT
public:
    explicit TdlgUserPrompt(QWidget* parent = nullptr);

    void SetPromptText(const std::string& text);
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int value) { FModalResult = value; }

    QLabel* lblDialogText;
    QLabel* Image1;
    QPushButton* CancelBtn;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc: the Cancel button's effect, without closing.
    void reject() override;

private:
    void FormCreate();
    void FormShow();
    void Relayout();
    int FModalResult = mrNone;
};

class TUserPromptDialog : public TUserPrompt {
public:
    // With a widget owner the dialog becomes its (transient) child window.
    explicit TUserPromptDialog(QObject* owner = nullptr);
    ~TUserPromptDialog() override;

    void ShowPrompt(const std::string& text) override;
    bool Cancelled() override;
    void HidePrompt() override;

    TdlgUserPrompt* Dialog() const { return FDialog.data(); }

private:
    QPointer<TdlgUserPrompt> FDialog;
};
