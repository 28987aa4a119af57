#include "framework/forms/application.h"

#include "framework/exceptions.h"
#include "framework/forms/backend.h"
#include "framework/forms/form.h"

namespace {

std::string& Title()
{
    static std::string title = "Moravent Flash Programmer";
    return title;
}

TForm* TheMainForm = nullptr;

void DefaultMessageDlg(TMsgDlgType type, const std::string& text)
{
    const TBoxIcon icon = type == mtInformation ? TBoxIcon::Information
        : type == mtConfirmation                ? TBoxIcon::Question
        : type == mtError                       ? TBoxIcon::Stop
                                                : TBoxIcon::None;
    BackendMessageBox(icon, MessageDlgCaption(type), text);
}

} // namespace

std::string ApplicationTitle()
{
    return Title();
}

void SetApplicationTitle(const std::string& title)
{
    Title() = title;
}

void SetMainForm(TForm* form)
{
    TheMainForm = form;
}

TForm* MainForm()
{
    return TheMainForm;
}

std::function<void(TMsgDlgType, const std::string&)> MessageDlgHook = DefaultMessageDlg;

void MessageDlg(TMsgDlgType type, const std::string& text)
{
    if (MessageDlgHook)
        MessageDlgHook(type, text);
}

std::string MessageDlgCaption(TMsgDlgType type)
{
    switch (type) {
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    case mtError: return "Error";
    case mtMessage: return ApplicationTitle();
    }
    return {};
}

std::function<void(const std::exception&)> ErrorDisplayHook = DefaultErrorDisplay;

void DefaultErrorDisplay(const std::exception& e)
{
    BackendMessageBox(TBoxIcon::Stop, ApplicationTitle(), ErrorDisplayText(e));
}

void ShowException(const std::exception& e) noexcept
{
    try {
        if (ErrorDisplayHook)
            ErrorDisplayHook(e);
    } catch (...) {
        // A failing display must not take the event loop down with it.
    }
}

std::string ErrorDisplayText(const std::exception& e)
{
    std::string text = WithFullStop(e.what());
    if (const auto* ours = dynamic_cast<const Exception*>(&e); ours && !ours->Details().empty()) {
        text += "\n";
        for (const std::string& line : ours->Details())
            text += "\n" + line;
    }
    return text;
}

void SetBusyCursor(bool busy)
{
    BackendSetBusyCursor(busy);
}

std::function<void(const std::string&)> OpenUrlHook = BackendOpenUrl;

void OpenUrl(const std::string& address)
{
    if (OpenUrlHook)
        OpenUrlHook(address);
}
