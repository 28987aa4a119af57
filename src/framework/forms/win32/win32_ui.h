#pragma once
// What the Win32 forms backend's files share: the screen's scale, the message font, text
// conversion and the window of a control or form.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <string>

#include "framework/forms/controls.h"
#include "framework/forms/form_desc.h"

class TForm;
struct TRgbaImage;

// Places, sizes and fonts are described at 96 dots per inch; the screen may have more.
int ScreenDpi();
int Scale(int value);
int Unscale(int value);

// The Windows message font (NONCLIENTMETRICS), or one of its height and weight when the
// description asks for another; the backend keeps each font for the program's life.
HFONT FontFor(const TFontDesc& desc);

// Texts are single-byte; the windows show line breaks as CR LF.
std::string WindowText(HWND window);
std::string WithCrLf(const std::string& text);

// What the form's window procedure asks of its controls, whatever their kind.
class TWin32Widget {
public:
    virtual ~TWin32Widget() = default;
    // The window children are placed in (a group box's inside, a panel).
    virtual HWND Handle() const = 0;
    // A WM_COMMAND notification from the control (a click, a pick).
    virtual void Command(int /*code*/) { }
    // An owner-drawn control paints itself (pictures, the drop-down's entries).
    virtual void Draw(const DRAWITEMSTRUCT& /*item*/) { }
    virtual void Measure(MEASUREITEMSTRUCT& /*item*/) { }
    // Link labels are blue under a hand.
    virtual bool IsLink() const { return false; }
};

// Builds the control of desc as a child of parent, on form.
std::unique_ptr<TControl> CreateWin32Control(TForm& form, const TControlDesc& desc, HWND parent, int id);
TWin32Widget* Win32WidgetOf(const TControl& control);

HWND Win32WindowOf(const TForm& form);

// A DIB section for an alpha-blended picture (premultiplied BGRA); the caller deletes it.
HBITMAP BitmapFromRgba(const TRgbaImage& image);
// A window icon from a picture (the caller destroys it); null for an empty one.
HICON IconFromRgba(const TRgbaImage& image);
// The program's icon from its resources (id 1), at size pixels.
HICON ApplicationIconHandle(int size);

// Window classes of our own: top-level forms and the containers controls sit in.
extern const char FormClassName[];
extern const char PanelClassName[];
// The property a control's window carries: a global atom of its name, so a driver in
// another process can find it (GlobalGetAtomName).
extern const char ControlNameProperty[];

// Between the form and the backend's application object.
void RegisterWin32FormClasses();
bool FilterFormMessage(MSG& msg);
void SetWin32BusyCursor(bool busy);
