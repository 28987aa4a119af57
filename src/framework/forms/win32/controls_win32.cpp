// The controls on native Windows controls, created with CreateWindowEx and sized from the
// description's 96-dpi units to the screen.
#include "framework/forms/win32/win32_ui.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "framework/forms/application.h"
#include "framework/forms/form.h"
#include "framework/graphics.h"

namespace {

template <class Base> void RunClick(Base& control)
{
    GuardedCall([&control] {
        if (control.OnClick)
            control.OnClick();
    });
}

// The part every kind shares: its window and what any control does with it.
template <class Base> class TWin32Control : public Base, public TWin32Widget {
public:
    TWin32Control(TForm& form, const TControlDesc& desc, HWND window)
        : Base(form, desc), FWindow(window), FBounds(desc.Bounds), FAutoSize(desc.AutoSize), FFont(FontFor(desc.Font))
    {
        ::SendMessageA(window, WM_SETFONT, WPARAM(FFont), FALSE);
        ::SetPropA(window, ControlNameProperty, HANDLE(uintptr_t(::GlobalAddAtomA(desc.Name.c_str()))));
        if (FAutoSize)
            FitText();
    }
    ~TWin32Control() override
    {
        ::GlobalDeleteAtom(ATOM(uintptr_t(::RemovePropA(FWindow, ControlNameProperty))));
        ::DestroyWindow(FWindow);
    }

    HWND Handle() const override { return FWindow; }
    std::string Caption() const override { return WindowText(FWindow); }
    void SetCaption(const std::string& text) override
    {
        ::SetWindowTextA(FWindow, text.c_str());
        if (FAutoSize)
            FitText();
    }
    bool Enabled() const override { return ::IsWindowEnabled(FWindow); }
    void SetEnabled(bool enabled) override { ::EnableWindow(FWindow, enabled); }
    bool Visible() const override { return ::IsWindowVisible(FWindow); }
    void SetVisible(bool visible) override { ::ShowWindow(FWindow, visible ? SW_SHOWNA : SW_HIDE); }
    TRect Bounds() const override { return FBounds; }
    void SetBounds(const TRect& b) override
    {
        FBounds = b;
        Place();
    }
    void SetHint(const std::string& text) override;
    int TextWidth(const std::string& text) const override
    {
        HDC dc = ::GetDC(FWindow);
        HGDIOBJ old = ::SelectObject(dc, FFont);
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.data(), int(text.size()), &size);
        ::SelectObject(dc, old);
        ::ReleaseDC(FWindow, dc);
        return Unscale(size.cx);
    }
    void Click() override { RunClick(*this); }

protected:
    virtual void Place()
    {
        ::MoveWindow(FWindow, Scale(FBounds.Left), Scale(FBounds.Top), Scale(FBounds.Width), Scale(FBounds.Height),
                     TRUE);
    }
    // One line as large as its text.
    void FitText()
    {
        std::string text = Caption();
        HDC dc = ::GetDC(FWindow);
        HGDIOBJ old = ::SelectObject(dc, FFont);
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.empty() ? " " : text.data(), text.empty() ? 1 : int(text.size()), &size);
        ::SelectObject(dc, old);
        ::ReleaseDC(FWindow, dc);
        FBounds.Width = text.empty() ? 0 : Unscale(size.cx) + 1;
        FBounds.Height = Unscale(size.cy);
        Place();
    }
    HWND FWindow;
    TRect FBounds;
    bool FAutoSize;
    HFONT FFont;
    HWND FTip = nullptr;
};

template <class Base> void TWin32Control<Base>::SetHint(const std::string& text)
{
    if (!FTip) {
        FTip = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 ::GetAncestor(FWindow, GA_ROOT), nullptr, ::GetModuleHandleA(nullptr), nullptr);
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = ::GetParent(FWindow);
        tool.uId = UINT_PTR(FWindow);
        tool.lpszText = const_cast<char*>("");
        ::SendMessageA(FTip, TTM_ADDTOOLA, 0, LPARAM(&tool));
    }
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = ::GetParent(FWindow);
    tool.uId = UINT_PTR(FWindow);
    tool.lpszText = const_cast<char*>(text.c_str());
    ::SendMessageA(FTip, TTM_UPDATETIPTEXTA, 0, LPARAM(&tool));
    ::SendMessageA(FTip, TTM_ACTIVATE, !text.empty(), 0);
}

class TWin32Button : public TWin32Control<TButton> {
public:
    TWin32Button(TForm& form, const TControlDesc& desc, HWND window)
        : TWin32Control(form, desc, window), FModalResult(desc.ModalResult)
    {
    }
    void Command(int code) override
    {
        if (code == BN_CLICKED)
            Pressed();
    }
    void Click() override
    {
        if (Enabled())
            Pressed();
    }

private:
    // As a button does: its modal result goes to the form first, then its own handler runs.
    void Pressed()
    {
        if (FModalResult != mrNone)
            Form().SetModalResult(FModalResult);
        RunClick(*this);
    }
    int FModalResult;
};

class TWin32Label : public TWin32Control<TLabel> {
public:
    TWin32Label(TForm& form, const TControlDesc& desc, HWND window)
        : TWin32Control(form, desc, window), FLink(desc.Link)
    {
    }
    void Command(int code) override
    {
        if (FLink && code == STN_CLICKED)
            RunClick(*this);
    }
    bool IsLink() const override { return FLink; }

private:
    bool FLink;
};

class TWin32ProgressBar : public TWin32Control<TProgressBar> {
public:
    using TWin32Control::TWin32Control;
    void SetRange(int min, int max) override
    {
        FMin = min;
        FMax = std::max(max, min);
        ::SendMessageA(FWindow, PBM_SETRANGE32, min, std::max(max, min + 1));
        SetPosition(FPosition);
    }
    int Min() const override { return FMin; }
    int Max() const override { return FMax; }
    void SetPosition(int position) override
    {
        FPosition = std::clamp(position, FMin, FMax);
        ::SendMessageA(FWindow, PBM_SETPOS, FPosition, 0);
    }
    int Position() const override { return FPosition; }

private:
    int FMin = 0, FMax = 100, FPosition = 0;
};

// Pictures are drawn by the control itself: alpha-blended, stretched to the bounds or fitted
// with their proportions kept, as the description says.
class TWin32Image : public TWin32Control<TImage> {
public:
    TWin32Image(TForm& form, const TControlDesc& desc, HWND window)
        : TWin32Control(form, desc, window), FStretch(desc.Stretch)
    {
    }
    ~TWin32Image() override { Clear(); }
    void SetGraphic(const TGraphic& graphic) override
    {
        Clear();
        const TRgbaImage& image = graphic.Image();
        FBitmap = BitmapFromRgba(image);
        FWidth = image.Width;
        FHeight = image.Height;
        ::InvalidateRect(FWindow, nullptr, TRUE);
    }
    void SetStockIcon(TStockIcon icon) override
    {
        Clear();
        const int size = Scale(std::min(Bounds().Width, Bounds().Height));
        if (icon == TStockIcon::Warning)
            FIcon = HICON(::LoadImageA(nullptr, IDI_WARNING, IMAGE_ICON, size, size, LR_SHARED));
        else if (icon == TStockIcon::Application)
            FIcon = ApplicationIconHandle(size);
        ::InvalidateRect(FWindow, nullptr, TRUE);
    }
    void Clear() override
    {
        if (FBitmap)
            ::DeleteObject(FBitmap);
        FBitmap = nullptr;
        FIcon = nullptr; // shared icons stay with the system
        ::InvalidateRect(FWindow, nullptr, TRUE);
    }
    bool HasPicture() const override { return FBitmap || FIcon; }
    void Draw(const DRAWITEMSTRUCT& item) override
    {
        const RECT& r = item.rcItem;
        ::FillRect(item.hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
        if (FIcon)
            ::DrawIconEx(item.hDC, r.left, r.top, FIcon, r.right - r.left, r.bottom - r.top, 0, nullptr, DI_NORMAL);
        if (FBitmap)
            DrawBitmap(item.hDC, r);
    }

private:
    void DrawBitmap(HDC dc, const RECT& r)
    {
        int w = r.right - r.left, h = r.bottom - r.top;
        if (!FStretch && (FWidth != w || FHeight != h)) {
            // Fitted: the largest size of the picture's proportions that the bounds hold.
            const double k = std::min(double(w) / FWidth, double(h) / FHeight);
            w = std::max(1, int(FWidth * k + 0.5));
            h = std::max(1, int(FHeight * k + 0.5));
        }
        HDC source = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(source, FBitmap);
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        ::SetStretchBltMode(dc, HALFTONE);
        ::AlphaBlend(dc, r.left, r.top, w, h, source, 0, 0, FWidth, FHeight, blend);
        ::SelectObject(source, old);
        ::DeleteDC(source);
    }
    bool FStretch;
    HBITMAP FBitmap = nullptr;
    HICON FIcon = nullptr;
    int FWidth = 0, FHeight = 0;
};

// Owner-drawn so the open list can show each port's description beside its name while the
// closed box shows the name alone.
class TWin32ComboBox : public TWin32Control<TComboBox> {
public:
    using TWin32Control::TWin32Control;
    void Clear() override
    {
        ::SendMessageA(FWindow, CB_RESETCONTENT, 0, 0);
        FDescriptions.clear();
    }
    void AddItem(const std::string& text, const std::string& description) override
    {
        ::SendMessageA(FWindow, CB_ADDSTRING, 0, LPARAM(text.c_str()));
        FDescriptions.push_back(description);
        const std::string shown = description.empty() ? text : text + "   " + description;
        const int width = Scale(TextWidth(shown)) + 2 * ::GetSystemMetrics(SM_CXVSCROLL);
        if (width > int(::SendMessageA(FWindow, CB_GETDROPPEDWIDTH, 0, 0)))
            ::SendMessageA(FWindow, CB_SETDROPPEDWIDTH, width, 0);
    }
    int Count() const override { return int(::SendMessageA(FWindow, CB_GETCOUNT, 0, 0)); }
    std::string ItemText(int index) const override
    {
        const LRESULT length = ::SendMessageA(FWindow, CB_GETLBTEXTLEN, index, 0);
        if (length == CB_ERR)
            return {};
        std::string text(size_t(length) + 1, '\0');
        ::SendMessageA(FWindow, CB_GETLBTEXT, index, LPARAM(text.data()));
        text.resize(size_t(length));
        return text;
    }
    std::string ItemDescription(int index) const override
    {
        return index >= 0 && size_t(index) < FDescriptions.size() ? FDescriptions[size_t(index)] : std::string();
    }
    int ItemIndex() const override { return int(::SendMessageA(FWindow, CB_GETCURSEL, 0, 0)); }
    void SetItemIndex(int index) override { ::SendMessageA(FWindow, CB_SETCURSEL, index < Count() ? index : -1, 0); }
    void Pick(int index) override
    {
        SetItemIndex(index);
        Picked();
    }
    void Click() override { ::SendMessageA(FWindow, CB_SHOWDROPDOWN, TRUE, 0); }
    void Command(int code) override
    {
        if (code == CBN_SELCHANGE)
            Picked();
    }
    void Measure(MEASUREITEMSTRUCT& item) override { item.itemHeight = Scale(15); }
    void Draw(const DRAWITEMSTRUCT& item) override;

protected:
    // The closed box is as high as described; the dropped list hangs below it.
    void Place() override
    {
        ::MoveWindow(FWindow, Scale(FBounds.Left), Scale(FBounds.Top), Scale(FBounds.Width), Scale(FBounds.Height + 200),
                     TRUE);
    }

private:
    void Picked()
    {
        GuardedCall([this] {
            if (OnPick)
                OnPick();
        });
    }
    std::vector<std::string> FDescriptions;
};

void TWin32ComboBox::Draw(const DRAWITEMSTRUCT& item)
{
    const bool selected = item.itemState & ODS_SELECTED;
    RECT r = item.rcItem;
    ::FillRect(item.hDC, &r, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (int(item.itemID) < 0)
        return;
    std::string text = ItemText(int(item.itemID));
    const std::string description = ItemDescription(int(item.itemID));
    if (!(item.itemState & ODS_COMBOBOXEDIT) && !description.empty())
        text += "   " + description;
    ::SetBkMode(item.hDC, TRANSPARENT);
    ::SetTextColor(item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    r.left += Scale(2);
    ::DrawTextA(item.hDC, text.c_str(), int(text.size()), &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS)
        ::DrawFocusRect(item.hDC, &item.rcItem);
}

// A group box is a container with the frame and title drawn by a button of group-box style
// inside it, so what lies in it clips to it and its notifications reach the form.
class TWin32GroupBox : public TWin32Control<TGroupBox> {
public:
    TWin32GroupBox(TForm& form, const TControlDesc& desc, HWND window, HWND frame)
        : TWin32Control(form, desc, window), FFrame(frame)
    {
        ::SendMessageA(frame, WM_SETFONT, WPARAM(FFont), FALSE);
        Place();
    }
    std::string Caption() const override { return WindowText(FFrame); }
    void SetCaption(const std::string& text) override { ::SetWindowTextA(FFrame, text.c_str()); }

protected:
    void Place() override
    {
        TWin32Control::Place();
        if (FFrame)
            ::MoveWindow(FFrame, 0, 0, Scale(FBounds.Width), Scale(FBounds.Height), TRUE);
    }

private:
    HWND FFrame = nullptr;
};

template <class Base> class TWin32Plain : public TWin32Control<Base> {
public:
    using TWin32Control<Base>::TWin32Control;
};

// A sunken line along the bottom of its bounds.
class TWin32Bevel : public TWin32Control<TBevel> {
public:
    using TWin32Control::TWin32Control;

protected:
    void Place() override
    {
        ::MoveWindow(FWindow, Scale(FBounds.Left), Scale(FBounds.Bottom()) - 2, Scale(FBounds.Width), 2, TRUE);
    }
};

HWND NewWindow(const char* className, const std::string& text, DWORD style, HWND parent, int id, DWORD exStyle = 0)
{
    return ::CreateWindowExA(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                             parent, HMENU(intptr_t(id)), ::GetModuleHandleA(nullptr), nullptr);
}

} // namespace

std::unique_ptr<TControl> CreateWin32Control(TForm& form, const TControlDesc& desc, HWND parent, int id)
{
    std::unique_ptr<TControl> control;
    switch (desc.Kind) {
    case TControlKind::Button:
        control = std::make_unique<TWin32Button>(
            form, desc,
            NewWindow("BUTTON", desc.Caption, WS_TABSTOP | (desc.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), parent,
                      id));
        break;
    case TControlKind::Label:
        control = std::make_unique<TWin32Label>(
            form, desc, NewWindow("STATIC", desc.Caption, SS_LEFT | SS_NOPREFIX | SS_NOTIFY, parent, id));
        break;
    case TControlKind::ProgressBar:
        control = std::make_unique<TWin32ProgressBar>(form, desc, NewWindow(PROGRESS_CLASSA, "", 0, parent, id));
        break;
    case TControlKind::Image:
        control = std::make_unique<TWin32Image>(form, desc, NewWindow("STATIC", "", SS_OWNERDRAW, parent, id));
        break;
    case TControlKind::ComboBox:
        control = std::make_unique<TWin32ComboBox>(
            form, desc,
            NewWindow("COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
                      parent, id));
        break;
    case TControlKind::GroupBox: {
        // The container paints the frame's inside (a group box leaves it), and the frame lies
        // beneath what is placed in the box.
        HWND box = NewWindow(PanelClassName, "", 0, parent, id, WS_EX_CONTROLPARENT);
        HWND frame = NewWindow("BUTTON", desc.Caption, BS_GROUPBOX, box, 0);
        control = std::make_unique<TWin32GroupBox>(form, desc, box, frame);
        break;
    }
    case TControlKind::Panel:
        control = std::make_unique<TWin32Plain<TPanel>>(
            form, desc, NewWindow(PanelClassName, "", WS_CLIPCHILDREN, parent, id, WS_EX_CONTROLPARENT));
        break;
    case TControlKind::Bevel:
        control = std::make_unique<TWin32Bevel>(form, desc, NewWindow("STATIC", "", SS_ETCHEDHORZ, parent, id));
        break;
    }
    control->SetBounds(control->Bounds()); // each kind places itself (the combo box's list, the bevel's line)
    // A new child goes beneath its siblings; a group box's frame stays beneath all.
    for (HWND sibling = ::GetWindow(parent, GW_CHILD); sibling; sibling = ::GetWindow(sibling, GW_HWNDNEXT))
        if (::GetDlgCtrlID(sibling) == 0 && (::GetWindowLongA(sibling, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
            ::SetWindowPos(sibling, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            break;
        }
    return control;
}

TWin32Widget* Win32WidgetOf(const TControl& control)
{
    return dynamic_cast<TWin32Widget*>(const_cast<TControl*>(&control));
}
