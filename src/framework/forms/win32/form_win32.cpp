// Forms on top-level windows of our own class: the main window overlapped, dialogs owned
// popups. Modal forms run their own loop on the framework's message loop with their owner
// disabled, as Windows dialogs do.
#include <algorithm>
#include <map>
#include <vector>

#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "framework/forms/win32/win32_ui.h"
#include "framework/graphics.h"
#include "framework/message_loop.h"
#include "framework/message_loop_win32.h"

namespace {

struct TMenuItem {
    int Id;
    std::string Text, Shortcut;
};

class TWin32Form;
std::vector<TWin32Form*> ModalStack; // innermost last
bool BusyCursor = false;

DWORD StyleFor(const TFormDesc& desc)
{
    DWORD style = WS_CAPTION | WS_CLIPCHILDREN | (desc.MainWindow ? WS_OVERLAPPED | WS_MINIMIZEBOX : WS_POPUP);
    return desc.CloseBox ? style | WS_SYSMENU : style;
}

DWORD ExStyleFor(const TFormDesc& desc)
{
    return WS_EX_CONTROLPARENT | (desc.MainWindow ? 0 : WS_EX_DLGMODALFRAME);
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class TWin32Form : public TForm {
public:
    TWin32Form(const TFormDesc& desc, TForm* owner) : TForm(desc), FDesc(desc)
    {
        HWND ownerWindow = owner ? Win32WindowOf(*owner) : nullptr;
        FWindow = ::CreateWindowExA(ExStyleFor(desc), FormClassName, desc.Caption.c_str(), StyleFor(desc),
                                    CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, ownerWindow, nullptr,
                                    ::GetModuleHandleA(nullptr), this);
        if (!FWindow)
            throw Exception("The window of form " + desc.Name + " cannot be created");
        ::SetPropA(FWindow, ControlNameProperty, HANDLE(uintptr_t(::GlobalAddAtomA(desc.Name.c_str()))));
        ::SendMessageA(FWindow, WM_SETFONT, WPARAM(FontFor(desc.Font)), FALSE);
        SetClientSize(desc.ClientWidth, desc.ClientHeight);
        for (const TControlDesc& c : desc.Controls)
            Add(c);
    }
    ~TWin32Form() override
    {
        std::erase(ModalStack, this);
        ::GlobalDeleteAtom(ATOM(uintptr_t(::RemovePropA(FWindow, ControlNameProperty))));
        ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
        ::DestroyWindow(FWindow);
        for (HICON icon : FIcons)
            ::DestroyIcon(icon);
    }

    HWND Window() const { return FWindow; }
    // The window is known from its first message on, before CreateWindowEx returns.
    void Attach(HWND window) { FWindow = window; }
    const TFormDesc& Desc() const { return FDesc; }

    TControl& Add(const TControlDesc& desc) override
    {
        HWND parent = FWindow;
        if (!desc.Parent.empty())
            parent = Win32WidgetOf(Control(desc.Parent))->Handle();
        const int id = FNextId++;
        std::unique_ptr<TControl> control = CreateWin32Control(*this, desc, parent, id);
        TControl& added = *control;
        FById[id] = &added;
        Register(std::move(control));
        return added;
    }
    void Remove(const std::string& name) override
    {
        std::unique_ptr<TControl> gone = Unregister(name);
        std::erase_if(FById, [&](const auto& entry) { return entry.second == gone.get(); });
    }

    std::string Caption() const override { return WindowText(FWindow); }
    void SetCaption(const std::string& text) override { ::SetWindowTextA(FWindow, text.c_str()); }
    void SetIcon(const TIcon& icon) override;
    void SetClientSize(int width, int height) override
    {
        FClientWidth = width;
        FClientHeight = height;
        RECT r{0, 0, Scale(width), Scale(height)};
        ::AdjustWindowRectEx(&r, StyleFor(FDesc), FALSE, ExStyleFor(FDesc));
        ::SetWindowPos(FWindow, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int ClientWidth() const override { return FClientWidth; }
    int ClientHeight() const override { return FClientHeight; }

    void Show() override
    {
        if (!::IsWindowVisible(FWindow)) {
            GuardedCall([this] {
                if (OnShow)
                    OnShow();
            });
            Place();
            ::ShowWindow(FWindow, SW_SHOW);
            FocusFirstControl();
        }
        ::SetForegroundWindow(FWindow);
    }
    void Hide() override { ::ShowWindow(FWindow, SW_HIDE); }
    bool Visible() const override { return ::IsWindowVisible(FWindow); }

    int ShowModal() override
    {
        if (FDesc.MainWindow)
            throw Exception("The main window cannot be shown modally");
        SetModalResult(mrNone);
        FModal = true;
        FEnded = false;
        HWND owner = ::GetWindow(FWindow, GW_OWNER);
        const bool ownerWasEnabled = owner && ::IsWindowEnabled(owner);
        if (ownerWasEnabled)
            ::EnableWindow(owner, FALSE);
        ModalStack.push_back(this);
        Show();
        while (!FEnded && !QuitRequested())
            WaitAndProcessMessages();
        // The owner is enabled again before the dialog goes, so it gets the activation back.
        if (ownerWasEnabled)
            ::EnableWindow(owner, TRUE);
        Hide();
        std::erase(ModalStack, this);
        FModal = false;
        return ModalResult() == mrNone ? mrCancel : ModalResult();
    }

    bool Close() override
    {
        bool close = true;
        GuardedCall([&] { close = !OnCloseQuery || OnCloseQuery(); });
        if (!close)
            return false;
        if (FModal)
            SetModalResult(mrCancel);
        else
            Hide();
        if (FDesc.MainWindow)
            ::PostQuitMessage(0);
        return true;
    }

    void AddSystemMenuItem(int id, const std::string& text, const std::string& shortcut) override
    {
        FMenu.push_back({id, text, shortcut});
        HMENU menu = ::GetSystemMenu(FWindow, FALSE);
        if (!menu)
            return;
        if (text.empty())
            ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        else
            ::AppendMenuA(menu, MF_STRING, UINT_PTR(id), (shortcut.empty() ? text : text + "\t" + shortcut).c_str());
    }

    void PressKey(TKey key) override
    {
        switch (key) {
        case TKey::Enter:
            if (TControl* button = ButtonFor(false))
                button->Click();
            break;
        case TKey::Escape:
            if (!FDesc.MainWindow)
                Reject();
            break;
        case TKey::F1: Shortcut("F1"); break;
        }
    }

    // The window procedure's work.
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool Shortcut(const std::string& key)
    {
        for (const TMenuItem& item : FMenu)
            if (item.Shortcut == key) {
                SysCommand(item.Id);
                return true;
            }
        return false;
    }

protected:
    void EndModal() override { FEnded = true; }

private:
    // The button a key presses: the default one for Enter, the cancel one for Esc.
    TControl* ButtonFor(bool cancel) const
    {
        for (const TControlDesc& c : FDesc.Controls)
            if (c.Kind == TControlKind::Button && (cancel ? c.Cancel : c.Default)) {
                TControl& button = Control(c.Name);
                return button.Enabled() && button.Visible() ? &button : nullptr;
            }
        return nullptr;
    }
    int DefaultButtonId() const
    {
        const TControl* button = ButtonFor(false);
        for (const auto& [id, control] : FById)
            if (control == button)
                return id;
        return 0;
    }
    // Esc, or the system's own way out of a dialog: the cancel button's effect, or Cancel.
    void Reject()
    {
        if (TControl* cancel = ButtonFor(true))
            cancel->Click();
        else if (FModal)
            SetModalResult(mrCancel);
    }
    void SysCommand(int id)
    {
        GuardedCall([&] {
            if (OnSysCommand)
                OnSysCommand(id);
        });
    }
    void Place();
    void FocusFirstControl()
    {
        for (const TControlDesc& c : FDesc.Controls) {
            HWND h = Win32WidgetOf(Control(c.Name))->Handle();
            if ((::GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP) && ::IsWindowEnabled(h)) {
                ::SetFocus(h);
                return;
            }
        }
    }
    TWin32Widget* WidgetById(int id) const
    {
        const auto it = FById.find(id);
        return it == FById.end() ? nullptr : Win32WidgetOf(*it->second);
    }
    bool SetCursorFor(HWND child);

    TFormDesc FDesc;
    HWND FWindow = nullptr;
    std::map<int, TControl*> FById;
    int FNextId = 100; // clear of IDOK and IDCANCEL
    int FClientWidth = 0, FClientHeight = 0;
    bool FEnded = false;
    std::vector<TMenuItem> FMenu;
    std::vector<HICON> FIcons;
};

void TWin32Form::SetIcon(const TIcon& icon)
{
    // The sizes closest to the caption's and the task switcher's.
    auto closest = [&](int size) -> const TRgbaImage* {
        const TRgbaImage* best = nullptr;
        for (const TRgbaImage& image : icon.Images())
            if (!best || std::abs(image.Width - size) < std::abs(best->Width - size))
                best = &image;
        return best;
    };
    for (auto [kind, metric] : {std::pair{ICON_SMALL, SM_CXSMICON}, std::pair{ICON_BIG, SM_CXICON}})
        if (const TRgbaImage* image = closest(::GetSystemMetrics(metric)))
            if (HICON handle = IconFromRgba(*image)) {
                FIcons.push_back(handle);
                ::SendMessageA(FWindow, WM_SETICON, kind, LPARAM(handle));
            }
}

void TWin32Form::Place()
{
    RECT frame;
    ::GetWindowRect(FWindow, &frame);
    RECT area;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    TForm* main = MainForm();
    if (FDesc.Position == TFormPosition::MainFormCenter && main && main != this && main->Visible())
        ::GetWindowRect(Win32WindowOf(*main), &area);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    ::SetWindowPos(FWindow, nullptr, (area.left + area.right - width) / 2, (area.top + area.bottom - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TWin32Form::SetCursorFor(HWND child)
{
    if (BusyCursor && TForm::ActiveModal() == nullptr) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
        return true;
    }
    for (const auto& [id, control] : FById)
        if (TWin32Widget* w = Win32WidgetOf(*control); w && w->Handle() == child && w->IsLink()) {
            ::SetCursor(::LoadCursorA(nullptr, IDC_HAND));
            return true;
        }
    return false;
}

LRESULT TWin32Form::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (lParam) {
            if (TWin32Widget* w = WidgetById(LOWORD(wParam)))
                w->Command(HIWORD(wParam));
        } else if (LOWORD(wParam) == IDCANCEL && !FDesc.MainWindow) {
            Reject();
        }
        return 0;
    case DM_GETDEFID:
        if (const int id = DefaultButtonId())
            return MAKELRESULT(id, DC_HASDEFID);
        return 0;
    case WM_DRAWITEM:
        if (TWin32Widget* w = WidgetById(int(wParam)))
            w->Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_MEASUREITEM:
        if (TWin32Widget* w = WidgetById(int(wParam)))
            w->Measure(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        else // while the drop-down is being created
            reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = Scale(15);
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        HDC dc = HDC(wParam);
        ::SetBkMode(dc, TRANSPARENT);
        for (const auto& [id, control] : FById)
            if (TWin32Widget* w = Win32WidgetOf(*control); w && w->Handle() == HWND(lParam) && w->IsLink())
                ::SetTextColor(dc, RGB(0, 0, 255));
        return LRESULT(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && SetCursorFor(HWND(wParam)))
            return TRUE;
        break;
    case WM_CLOSE: Close(); return 0;
    case WM_SYSCOMMAND:
        for (const TMenuItem& item : FMenu)
            if (!item.Text.empty() && WPARAM(item.Id) == wParam) {
                SysCommand(item.Id);
                return 0;
            }
        break;
    default: break;
    }
    return ::DefWindowProcA(FWindow, message, wParam, lParam);
}

// Containers pass what their controls tell to the form they lie on.
bool ForwardedToForm(UINT message)
{
    return message == WM_COMMAND || message == WM_DRAWITEM || message == WM_MEASUREITEM ||
        message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN || message == WM_SETCURSOR;
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* created = static_cast<TWin32Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        created->Attach(window);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, LONG_PTR(created));
    }
    auto* form = reinterpret_cast<TWin32Form*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!form)
        return ::DefWindowProcA(window, message, wParam, lParam);
    // No event loop ever sees an exception.
    LRESULT result = 0;
    try {
        result = form->Handle(message, wParam, lParam);
    } catch (const std::exception& e) {
        ShowException(e);
    }
    return result;
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (ForwardedToForm(message))
        if (HWND root = ::GetAncestor(window, GA_ROOT); root && root != window)
            return ::SendMessageA(root, message, wParam, lParam);
    return ::DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

const char FormClassName[] = "MoraventForm";
const char PanelClassName[] = "MoraventPanel";
const char ControlNameProperty[] = "MoraventName";

void RegisterWin32FormClasses()
{
    WNDCLASSEXA form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = FormProc;
    form.hInstance = ::GetModuleHandleA(nullptr);
    form.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    form.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    form.hIcon = ApplicationIconHandle(::GetSystemMetrics(SM_CXICON));
    form.hIconSm = ApplicationIconHandle(::GetSystemMetrics(SM_CXSMICON));
    form.lpszClassName = FormClassName;
    ::RegisterClassExA(&form);
    WNDCLASSEXA panel = form;
    panel.lpfnWndProc = PanelProc;
    panel.hIcon = panel.hIconSm = nullptr;
    panel.lpszClassName = PanelClassName;
    ::RegisterClassExA(&panel);
}

// The dialog keys (Enter, Esc, Tab) of our forms, and the shortcuts of their menu entries.
bool FilterFormMessage(MSG& msg)
{
    HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    char name[32] = "";
    if (!root || !::GetClassNameA(root, name, sizeof name) || std::string(name) != FormClassName)
        return false;
    auto* form = reinterpret_cast<TWin32Form*>(::GetWindowLongPtrA(root, GWLP_USERDATA));
    if (form && msg.message == WM_KEYDOWN && msg.wParam == VK_F1 && form->Shortcut("F1"))
        return true;
    return ::IsDialogMessageA(root, &msg);
}

void SetWin32BusyCursor(bool busy)
{
    BusyCursor = busy;
    ::SetCursor(::LoadCursorA(nullptr, busy && ModalStack.empty() ? IDC_WAIT : IDC_ARROW));
}

std::unique_ptr<TForm> TForm::Create(const TFormDesc& desc, TForm* owner)
{
    return std::make_unique<TWin32Form>(desc, owner);
}

TForm* TForm::ActiveModal()
{
    return ModalStack.empty() ? nullptr : ModalStack.back();
}

HWND Win32WindowOf(const TForm& form)
{
    const auto* w = dynamic_cast<const TWin32Form*>(&form);
    return w ? w->Window() : nullptr;
}
