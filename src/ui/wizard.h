#pragma once
// The connect wizard: up to 20 instruction lines beside a picture of the unit, with
// "Next >>>" (mrOk) and "Cancel" (mrCancel).
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework/forms/form.h"
#include "framework/graphics.h"

const TFormDesc& frmConnectWizDesc();

class TfrmConnectWiz {
    std::unique_ptr<TForm> FForm; // first: the controls below are its

public:
    static constexpr int MaxLines = 20;

    explicit TfrmConnectWiz(TForm* owner = nullptr);
    ~TfrmConnectWiz();

    TForm& Form() const { return *FForm; }

    // One label per line; raises Exception "Too Many Strings" for more than 20 lines,
    // leaving the labels shown so far untouched.
    void SetInstructions(const std::vector<std::string>& lines);
    void ClearInstructions();
    // Shows a copy of graphic scaled so that its longer side is 200 pixels. Raises
    // EInvalidGraphic for a graphic without size, before anything changes.
    void SetPicture(const TGraphic& graphic);

    // The top of instruction line i: 5 + 17 * 0.75 * i, halves to even.
    static int LabelTop(int index);

    TButton& btnNext;
    TButton& btnCancel;
    TGroupBox& GroupBox;
    TPanel& PanelText;
    TPanel& PanelImage;
    TImage& Image;
    std::array<TLabel*, MaxLines> Labels{};
    const TPicture& Picture() const { return FPicture; }

private:
    void FormCreate();
    void FormDestroy();
    TPicture FPicture;
};
