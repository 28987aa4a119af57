// window_driver STEP...: drives the window tool from inside Wine through window messages, as
// an operator would, and checks what it shows. Each step waits (up to 20 s) for its window;
// the first failing step ends the run with exit status 1 and says why.
//   wait FORM                     the form is visible
//   gone FORM                     the form is hidden
//   click FORM CONTROL            presses a button
//   select FORM CONTROL TEXT      picks an entry of a drop-down list
//   text FORM CONTROL TEXT        the control shows TEXT (a trailing * matches any rest)
//   enabled FORM CONTROL 0|1      the control is disabled or enabled
//   moving FORM CONTROL           the progress bar's position is above 0
//   box CAPTION TEXT              a message box so captioned shows TEXT; OK closes it
//   close FORM                    the close box (WM_CLOSE)
//   syscmd FORM ID                a system menu entry
//   shot FORM FILE                the form's picture as a BMP file (from the screen)
//   mark                          prints the milliseconds since the previous mark
//   list                          prints the visible top-level windows (for a failing case)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const DWORD Timeout = 20000;

std::string NameOf(HWND window)
{
    char name[256] = "";
    if (ATOM atom = ATOM(uintptr_t(GetPropA(window, "MoraventName"))))
        GlobalGetAtomNameA(atom, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    char text[4096] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, LPARAM(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool Matches(const std::string& text, const std::string& want)
{
    if (!want.empty() && want.back() == '*')
        return text.compare(0, want.size() - 1, want, 0, want.size() - 1) == 0;
    return text == want;
}

struct TFind {
    std::string Name, Class;
    HWND Found = nullptr;
};

BOOL CALLBACK FindTop(HWND window, LPARAM data)
{
    auto& f = *reinterpret_cast<TFind*>(data);
    const bool match = ClassOf(window) == f.Class && (f.Class == "#32770" ? Matches(TextOf(window), f.Name)
                                                                            : NameOf(window) == f.Name);
    if (match && IsWindowVisible(window)) {
        f.Found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindChild(HWND window, LPARAM data)
{
    auto& f = *reinterpret_cast<TFind*>(data);
    if (NameOf(window) == f.Name) {
        f.Found = window;
        return FALSE;
    }
    return TRUE;
}

// Polls until check holds or the time is up.
template <class F> bool WaitFor(F check)
{
    const DWORD start = GetTickCount();
    while (!check()) {
        if (GetTickCount() - start > Timeout)
            return false;
        Sleep(20);
    }
    return true;
}

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "window_driver: %s\n", why.c_str());
    std::exit(1);
}

HWND TopWindow(const std::string& name, const std::string& cls = "MoraventForm")
{
    TFind f{name, cls};
    if (!WaitFor([&] {
            f.Found = nullptr;
            EnumWindows(FindTop, LPARAM(&f));
            return f.Found != nullptr;
        }))
        Fail("no visible " + (cls == "#32770" ? "message box \"" + name + "\"" : "form " + name));
    return f.Found;
}

HWND ControlOf(const std::string& form, const std::string& name)
{
    TFind f{name, ""};
    EnumChildWindows(TopWindow(form), FindChild, LPARAM(&f));
    if (!f.Found)
        Fail("form " + form + " has no control " + name);
    return f.Found;
}

// A message box's text is its static of id 0xFFFF.
void AnswerBox(const std::string& caption, const std::string& want)
{
    HWND box = TopWindow(caption, "#32770");
    const std::string text = TextOf(GetDlgItem(box, 0xFFFF));
    std::string flat;
    for (char c : text)
        if (c != '\r')
            flat += c == '\n' ? '|' : c;
    if (!Matches(flat, want))
        Fail("message box \"" + caption + "\" says \"" + flat + "\", wanted \"" + want + "\"");
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageA(ok ? ok : box, ok ? BM_CLICK : WM_CLOSE, 0, 0);
    if (!WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }))
        Fail("message box \"" + caption + "\" did not close");
    std::printf("box \"%s\": %s\n", caption.c_str(), flat.c_str());
}

// The window's picture as a 32-bit bottom-up BMP file.
void Shot(const std::string& form, const std::string& file)
{
    HWND window = TopWindow(form);
    Sleep(300); // pictures and late repaints settle
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    // From the screen: Wine's PrintWindow gives a blank picture, and our windows are on top.
    SetForegroundWindow(window);
    Sleep(200);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD size = DWORD(w) * h * 4;
    BITMAPFILEHEADER head{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                          DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out)
        Fail("cannot write " + file);
    std::fwrite(&head, sizeof head, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, size, 1, out);
    std::fclose(out);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    std::printf("shot %s: %dx%d\n", form.c_str(), w, h);
}

void Step(const std::vector<std::string>& a)
{
    const std::string& verb = a[0];
    auto need = [&](size_t n) {
        if (a.size() != n + 1)
            Fail(verb + " takes " + std::to_string(n) + " arguments");
    };
    if (verb == "wait") {
        need(1);
        TopWindow(a[1]);
    } else if (verb == "gone") {
        need(1);
        TFind f{a[1], "MoraventForm"};
        if (!WaitFor([&] {
                f.Found = nullptr;
                EnumWindows(FindTop, LPARAM(&f));
                return f.Found == nullptr;
            }))
            Fail("form " + a[1] + " is still shown");
    } else if (verb == "click") {
        need(2);
        HWND button = ControlOf(a[1], a[2]);
        if (!WaitFor([&] { return IsWindowEnabled(button); }))
            Fail(a[2] + " of " + a[1] + " stays disabled");
        PostMessageA(button, BM_CLICK, 0, 0);
    } else if (verb == "select") {
        need(3);
        HWND box = ControlOf(a[1], a[2]);
        if (SendMessageA(box, CB_SELECTSTRING, WPARAM(-1), LPARAM(a[3].c_str())) == CB_ERR)
            Fail(a[2] + " of " + a[1] + " has no entry " + a[3]);
        PostMessageA(GetParent(box), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), CBN_SELCHANGE), LPARAM(box));
    } else if (verb == "text") {
        need(3);
        HWND control = ControlOf(a[1], a[2]);
        if (!WaitFor([&] { return Matches(TextOf(control), a[3]); }))
            Fail(a[2] + " of " + a[1] + " shows \"" + TextOf(control) + "\", wanted \"" + a[3] + "\"");
    } else if (verb == "enabled") {
        need(3);
        HWND control = ControlOf(a[1], a[2]);
        const bool want = a[3] == "1";
        if (!WaitFor([&] { return bool(IsWindowEnabled(control)) == want; }))
            Fail(a[2] + " of " + a[1] + (want ? " stays disabled" : " stays enabled"));
    } else if (verb == "moving") {
        need(2);
        HWND bar = ControlOf(a[1], a[2]);
        if (!WaitFor([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) > 0; }))
            Fail(a[2] + " of " + a[1] + " does not move");
    } else if (verb == "box") {
        need(2);
        AnswerBox(a[1], a[2]);
    } else if (verb == "close") {
        need(1);
        PostMessageA(TopWindow(a[1]), WM_CLOSE, 0, 0);
    } else if (verb == "syscmd") {
        need(2);
        PostMessageA(TopWindow(a[1]), WM_SYSCOMMAND, WPARAM(std::atoi(a[2].c_str())), 0);
    } else if (verb == "list") {
        EnumWindows(
            [](HWND w, LPARAM) -> BOOL {
                if (IsWindowVisible(w))
                    std::printf("%s \"%s\" %s\n", ClassOf(w).c_str(), TextOf(w).c_str(), NameOf(w).c_str());
                return TRUE;
            },
            0);
    } else if (verb == "mark") {
        static DWORD last = GetTickCount();
        const DWORD now = GetTickCount();
        std::printf("mark %lu ms\n", static_cast<unsigned long>(now - last));
        last = now;
    } else if (verb == "shot") {
        need(2);
        Shot(a[1], a[2]);
    } else {
        Fail("unknown step " + verb);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Steps are separated by ";" arguments.
    std::vector<std::string> step;
    for (int i = 1; i <= argc; ++i) {
        if (i == argc || std::string(argv[i]) == ";") {
            if (!step.empty())
                Step(step);
            step.clear();
        } else {
            step.push_back(argv[i]);
        }
    }
    return 0;
}
