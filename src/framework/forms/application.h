#pragma once
// What the windows need of the application besides their forms: its title, its main form,
// message boxes, the error display, the hourglass and opening a web address. Written once;
// the toolkit's backend (backend.h) draws.
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class TForm;

// The application's title: the default error display's caption and the main window's.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

// The window dialogs centre on; null when there is none (they centre on the screen then).
void SetMainForm(TForm* form);
TForm* MainForm();

// mtMessage: a plain box captioned with the application title.
enum TMsgDlgType { mtInformation, mtConfirmation, mtError, mtMessage };

// Shows a modal box with one OK button and returns when the operator has closed it. A
// carriage return in text breaks the line. Replaceable (tests record and answer boxes).
extern std::function<void(TMsgDlgType type, const std::string& text)> MessageDlgHook;
void MessageDlg(TMsgDlgType type, const std::string& text);
// "Information", "Confirm", "Error", or the application title.
std::string MessageDlgCaption(TMsgDlgType type);

// Where an exception that leaves a handler ends up: the event loop never sees one. The
// default is a box with the stop icon, captioned with the application title, one OK button
// and ErrorDisplayText. Replaceable (tests record it).
extern std::function<void(const std::exception&)> ErrorDisplayHook;
void DefaultErrorDisplay(const std::exception& e);
// Routes e to ErrorDisplayHook; never throws.
void ShowException(const std::exception& e) noexcept;
// The message with a full stop added when its last character sorts after "." (so not after
// ".", "!" or ")"), then the failure's details (Exception::Details) after an empty line.
std::string ErrorDisplayText(const std::exception& e);

// Runs f; any exception goes to the error display instead of propagating.
template <class F> void GuardedCall(F&& f) noexcept
{
    try {
        f();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
}

// The hourglass while the program works; modal forms and boxes show the normal cursor.
void SetBusyCursor(bool busy);

// Asks the system to open a web address; the result is ignored. Replaceable (tests).
extern std::function<void(const std::string& address)> OpenUrlHook;
void OpenUrl(const std::string& address);

// The window program's application: the toolkit's application object and message loop.
class TWindowApplication {
public:
    TWindowApplication(int& argc, char** argv);
    ~TWindowApplication();
    TWindowApplication(const TWindowApplication&) = delete;
    TWindowApplication& operator=(const TWindowApplication&) = delete;
    // Shows the main form and handles messages until it has closed; the exit status.
    int Run(TForm& mainForm);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// False, with the reason, when no window can be opened here (no display to open it on).
bool WindowsAvailable(std::string& why);
