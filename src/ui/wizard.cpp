#include "ui/wizard.h"

#include "framework/exceptions.h"
#include "ui/rounding.h"

namespace {
// The height a new label has before it gets any text; the line pitch derives from it.
constexpr int NewLabelHeight = 17;
} // namespace

const TFormDesc& frmConnectWizDesc()
{
    static const TFormDesc desc = [] {
        TFormDesc d;
        d.Name = "frmConnectWiz";
        d.ClientWidth = 484;
        d.ClientHeight = 272;
        d.Controls = {
            {.Kind = TControlKind::Button,
             .Name = "btnNext",
             .Bounds = {404, 242, 75, 25},
             .Caption = "Next >>>",
             .ModalResult = mrOk,
             .Default = true},
            {.Kind = TControlKind::Button,
             .Name = "btnCancel",
             .Bounds = {324, 242, 75, 25},
             .Caption = "Cancel",
             .ModalResult = mrCancel,
             .Cancel = true},
            {.Kind = TControlKind::GroupBox, .Name = "GroupBox", .Bounds = {8, 8, 473, 223}},
            {.Kind = TControlKind::Panel, .Name = "PanelText", .Bounds = {8, 16, 225, 195}, .Parent = "GroupBox"},
            {.Kind = TControlKind::Panel, .Name = "PanelImage", .Bounds = {243, 16, 222, 197}, .Parent = "GroupBox"},
            {.Kind = TControlKind::Image,
             .Name = "Image",
             .Bounds = {0, 0, 222, 197},
             .Parent = "PanelImage",
             .Stretch = true},
        };
        return d;
    }();
    return desc;
}

TfrmConnectWiz::TfrmConnectWiz(TForm* owner)
    : FForm(TForm::Create(frmConnectWizDesc(), owner)), btnNext(FForm->Get<TButton>("btnNext")),
      btnCancel(FForm->Get<TButton>("btnCancel")), GroupBox(FForm->Get<TGroupBox>("GroupBox")),
      PanelText(FForm->Get<TPanel>("PanelText")), PanelImage(FForm->Get<TPanel>("PanelImage")),
      Image(FForm->Get<TImage>("Image"))
{
    FormCreate();
}

TfrmConnectWiz::~TfrmConnectWiz()
{
    FormDestroy();
}

void TfrmConnectWiz::FormCreate()
{
    Labels.fill(nullptr);
    FForm->SetCaption("Connecting the Unit to the PC");
}

void TfrmConnectWiz::FormDestroy()
{
    ClearInstructions();
}

int TfrmConnectWiz::LabelTop(int index)
{
    return 5 + RoundHalfEven(NewLabelHeight * 0.75 * index);
}

void TfrmConnectWiz::ClearInstructions()
{
    for (TLabel*& label : Labels) {
        if (label)
            FForm->Remove(label->Name());
        label = nullptr;
    }
}

void TfrmConnectWiz::SetInstructions(const std::vector<std::string>& lines)
{
    if (lines.size() > MaxLines)
        throw Exception("Too Many Strings");
    ClearInstructions();
    for (size_t i = 0; i < lines.size(); ++i) {
        TControlDesc line{.Kind = TControlKind::Label,
                          .Name = "Label" + std::to_string(i),
                          .Bounds = {5, LabelTop(static_cast<int>(i)), 0, NewLabelHeight},
                          .Caption = lines[i],
                          .Parent = "PanelText",
                          .AutoSize = true};
        Labels[i] = &dynamic_cast<TLabel&>(FForm->Add(line));
    }
}

void TfrmConnectWiz::SetPicture(const TGraphic& graphic)
{
    const int h = graphic.Height();
    const int w = graphic.Width();
    if (w <= 0 || h <= 0 || graphic.Empty())
        throw EInvalidGraphic("Picture has no size");
    FPicture.Assign(graphic);
    int width, height;
    if (h < w) {
        width = 200;
        height = RoundHalfEven(h * (200.0 / w));
    } else {
        height = 200;
        width = RoundHalfEven(w * (200.0 / h));
    }
    Image.SetBounds({0, 0, width, height});
    Image.SetGraphic(*FPicture.Graphic());
}
