#pragma once
// The About window: description, version line and legal notice from the program's own
// version information, the stored image's title and the maker's web address.
#include <memory>
#include <string>

#include "framework/forms/form.h"

inline constexpr const char* MakerWebAddress = "www.moravent.example";

const TFormDesc& frmAboutDesc();

class TfrmAbout {
    std::unique_ptr<TForm> FForm; // first: the controls below are its

public:
    explicit TfrmAbout(TForm* owner = nullptr);

    TForm& Form() const { return *FForm; }
    void SetImageText(const std::string& text);

    TButton& btnOk;
    TImage& ImageMV;
    TLabel& lblBriskoWeb;
    TBevel& Bevel1;
    TLabel& lblVersion;
    TLabel& lblProgram;
    TLabel& lblBinaryImage;
    TLabel& lblCopyright;

    void btnOkClick();
    void lblBriskoWebClick();

private:
    void FormCreate();
};
