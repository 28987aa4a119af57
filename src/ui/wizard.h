#pragma once
// The connect wizard: up to 20 instruction lines beside a picture of the unit, with
// "Next >>>" (accepted) and "Cancel" (rejected).
#include "framework/graphics.h"

#include <QDialog>
#include <array>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

class TfrmConnectWiz : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxLines = 20;

    explicit TfrmConnectWiz(QWidget* parent = nullptr);
    ~TfrmConnectWiz() override;

    // One label per line; raises Exception "Too Many Strings" for more than 20 lines,
    // leaving the labels shown so far untouched.
    void SetInstructions(const std::vector<std::string>& lines);
    void ClearInstructions();
    // Shows a copy of graphic scaled so that its longer side is 200 pixels. Raises
    // EInvalidGraphic for a graphic without size, before anything changes.
    void SetPicture(const TGraphic& graphic);

    // The top of instruction line i: 5 + 17 * 0.75 * i, halves to even.
    static int LabelTop(int index);

    QPushButton* btnNext;
    QPushButton* btnCancel;
    QGroupBox* GroupBox;
    QWidget* PanelText;
    QWidget* PanelImage;
    QLabel* Image;
    std::array<QLabel*, MaxLines> Labels{};
    const TPicture& Picture() const { return FPicture; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    TPicture FPicture;
};
