// Message boxes, the cursor, web addresses and the application object on Windows.
#include "framework/forms/win32/win32_ui.h"

#include <commctrl.h>
#include <shellapi.h>

#include "framework/forms/application.h"
#include "framework/forms/backend.h"
#include "framework/forms/form.h"
#include "framework/message_loop.h"
#include "framework/message_loop_win32.h"
#include "framework/syncqueue.h"
#include "framework/timers_native.h"

namespace {

// MessageBoxA runs a loop of its own: the framework's timers and the event thread's
// deliveries go on meanwhile through a thread timer that loop dispatches.
void CALLBACK ServiceWhileBoxed(HWND, UINT, UINT_PTR, DWORD)
{
    ServiceSyncQueue();
    nativeloop::FireDueTimers();
}

HWND BoxOwner()
{
    if (TForm* modal = TForm::ActiveModal())
        return Win32WindowOf(*modal);
    TForm* main = MainForm();
    return main && main->Visible() ? Win32WindowOf(*main) : nullptr;
}

} // namespace

void BackendMessageBox(TBoxIcon icon, const std::string& caption, const std::string& text)
{
    const UINT type = icon == TBoxIcon::Information ? MB_ICONINFORMATION
        : icon == TBoxIcon::Question                ? MB_ICONQUESTION
        : icon == TBoxIcon::Stop                    ? MB_ICONERROR
                                                    : 0;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, ServiceWhileBoxed);
    HCURSOR previous = ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
    ::MessageBoxA(BoxOwner(), WithCrLf(text).c_str(), caption.c_str(), MB_OK | MB_SETFOREGROUND | type);
    ::SetCursor(previous);
    ::KillTimer(nullptr, timer);
}

void BackendSetBusyCursor(bool busy)
{
    SetWin32BusyCursor(busy);
}

void BackendOpenUrl(const std::string& address)
{
    ::ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

struct TWindowApplication::TImpl {
    TImpl(int& argc, char** argv) : App(argc, argv)
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        ::InitCommonControlsEx(&controls);
        RegisterWin32FormClasses();
        SetMessageFilter(FilterFormMessage);
    }
    ~TImpl() { SetMessageFilter(nullptr); }
    TApplication App;
};

TWindowApplication::TWindowApplication(int& argc, char** argv) : FImpl(std::make_unique<TImpl>(argc, argv)) { }

TWindowApplication::~TWindowApplication() = default;

int TWindowApplication::Run(TForm& mainForm)
{
    mainForm.Show();
    while (!QuitRequested())
        WaitAndProcessMessages();
    return QuitExitCode();
}

bool WindowsAvailable(std::string&)
{
    // A Windows desktop always has its windows.
    return true;
}
