#pragma once
// Forms described once, as data: a window's size, caption and border, and each control's
// kind, name, place, caption and settings. A toolkit's backend builds the window from it, so
// a change of layout is made here and nowhere else.
#include <string>
#include <vector>

struct TRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TRect&) const = default;
};

// The results a modal form ends with (the value a button hands its form).
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

enum class TControlKind { Button, Label, ProgressBar, Image, ComboBox, GroupBox, Panel, Bevel };

// Pixel height of the form's font at 96 dots per inch; a backend scales it, and every place
// and size, to the screen.
struct TFontDesc {
    int Height = 11;
    bool Bold = false;
};

struct TControlDesc {
    TControlKind Kind = TControlKind::Label;
    std::string Name;
    TRect Bounds;
    std::string Caption;
    std::string Parent;       // a group box or panel of the same form; "" for the form itself
    int ModalResult = mrNone; // button: what pressing it hands the form
    bool Default = false;     // button: pressed by Enter
    bool Cancel = false;      // button: pressed by Esc
    bool AutoSize = false;    // label: as large as its text, one line
    bool Stretch = false;     // image: the picture scaled to the bounds
    bool Link = false;        // label: drawn as a link (blue, a hand cursor) that can be clicked
    TFontDesc Font;
};

enum class TFormPosition { ScreenCenter, MainFormCenter };

struct TFormDesc {
    std::string Name;
    std::string Caption;
    int ClientWidth = 0, ClientHeight = 0;
    bool MainWindow = false; // the application's window; others are dialogs
    bool CloseBox = true;    // false: no border icons at all
    TFormPosition Position = TFormPosition::MainFormCenter;
    TFontDesc Font;
    std::vector<TControlDesc> Controls; // in tab order
};
