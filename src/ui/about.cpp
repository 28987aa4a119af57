#include "ui/about.h"

#include "framework/forms/application.h"
#include "ui/version.h"

namespace {

constexpr int FormWidth = 455;

// Labels keep their text on one line; one that would run past the window's right edge is
// narrowed to it, and its text elided, rather than cut off mid-letter.
void FitLabel(TLabel& label, const std::string& text, int rightEdge)
{
    label.SetCaption(text);
    TRect bounds = label.Bounds();
    const int room = rightEdge - bounds.Left;
    if (bounds.Width <= room) {
        label.SetHint("");
        return;
    }
    std::string shown = text;
    while (!shown.empty() && label.TextWidth(shown + "...") > room)
        shown.pop_back();
    label.SetCaption(shown + "...");
    label.SetHint(text);
    bounds = label.Bounds();
    bounds.Width = room;
    label.SetBounds(bounds);
}

} // namespace

const TFormDesc& frmAboutDesc()
{
    static const TFormDesc desc = [] {
        TFormDesc d;
        d.Name = "frmAbout";
        d.ClientWidth = FormWidth;
        d.ClientHeight = 199;
        d.CloseBox = false;
        d.Controls = {
            {.Kind = TControlKind::Button,
             .Name = "btnOk",
             .Bounds = {376, 168, 70, 25},
             .Caption = "Ok",
             .Default = true},
            {.Kind = TControlKind::Image, .Name = "ImageMV", .Bounds = {8, 8, 32, 32}},
            {.Kind = TControlKind::Label,
             .Name = "lblBriskoWeb",
             .Bounds = {62, 104, 86, 13},
             .Caption = MakerWebAddress,
             .AutoSize = true,
             .Link = true},
            {.Kind = TControlKind::Bevel, .Name = "Bevel1", .Bounds = {8, 112, 439, 17}},
            {.Kind = TControlKind::Label, .Name = "lblVersion", .Bounds = {64, 56, 45, 13}, .AutoSize = true},
            {.Kind = TControlKind::Label,
             .Name = "lblProgram",
             .Bounds = {64, 16, 104, 25},
             .AutoSize = true,
             .Font = {21, true}},
            {.Kind = TControlKind::Label, .Name = "lblBinaryImage", .Bounds = {8, 136, 68, 13}, .AutoSize = true},
            {.Kind = TControlKind::Label, .Name = "lblCopyright", .Bounds = {64, 80, 54, 13}, .AutoSize = true},
        };
        return d;
    }();
    return desc;
}

TfrmAbout::TfrmAbout(TForm* owner)
    : FForm(TForm::Create(frmAboutDesc(), owner)), btnOk(FForm->Get<TButton>("btnOk")),
      ImageMV(FForm->Get<TImage>("ImageMV")), lblBriskoWeb(FForm->Get<TLabel>("lblBriskoWeb")),
      Bevel1(FForm->Get<TBevel>("Bevel1")), lblVersion(FForm->Get<TLabel>("lblVersion")),
      lblProgram(FForm->Get<TLabel>("lblProgram")), lblBinaryImage(FForm->Get<TLabel>("lblBinaryImage")),
      lblCopyright(FForm->Get<TLabel>("lblCopyright"))
{
    btnOk.OnClick = [this] { btnOkClick(); };
    lblBriskoWeb.OnClick = [this] { lblBriskoWebClick(); };
    FormCreate();
}

void TfrmAbout::FormCreate()
{
    std::string description, versionLine, notice;
    GetVersionStrings(description, versionLine, notice);
    FForm->SetCaption("About " + description);
    ImageMV.SetStockIcon(TStockIcon::Application);
    // The version line ends in a carriage return, which a label would draw as a box.
    while (!versionLine.empty() && versionLine.back() == '\r')
        versionLine.pop_back();
    const int right = FormWidth - 8;
    FitLabel(lblVersion, versionLine, right);
    FitLabel(lblCopyright, notice, right);
    FitLabel(lblProgram, description, right);
    SetImageText("No Flash Image Available");
}

void TfrmAbout::SetImageText(const std::string& text)
{
    FitLabel(lblBinaryImage, text, FormWidth - 8);
}

void TfrmAbout::btnOkClick()
{
    FForm->SetModalResult(mrCancel);
}

void TfrmAbout::lblBriskoWebClick()
{
    OpenUrl(std::string("http://") + MakerWebAddress);
}
