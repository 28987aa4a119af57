#pragma once
// The controls of a form as the window code sees them, whatever toolkit draws them. A
// backend (Qt, Win32) implements each kind; the window code never sees the toolkit.
#include <functional>
#include <string>

#include "framework/forms/form_desc.h"

class TForm;
class TGraphic;

class TControl {
public:
    TControl(TForm& form, const TControlDesc& desc) : FForm(form), FName(desc.Name), FKind(desc.Kind) { }
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    TForm& Form() const { return FForm; }
    const std::string& Name() const { return FName; }
    TControlKind Kind() const { return FKind; }

    virtual std::string Caption() const = 0;
    // An auto-sized label fits its new text.
    virtual void SetCaption(const std::string& text) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool visible) = 0;
    // In pixels at 96 dots per inch, relative to the parent.
    virtual TRect Bounds() const = 0;
    virtual void SetBounds(const TRect& bounds) = 0;
    // A text shown while the pointer rests on the control; "" for none.
    virtual void SetHint(const std::string& text) = 0;
    // The width the text takes in the control's font (labels fit and elide by it).
    virtual int TextWidth(const std::string& text) const = 0;

    // What a click does (buttons, link labels). A button with a modal result also hands it
    // to its form. Raising in it reaches the error display.
    std::function<void()> OnClick;
    // Does what the operator's click does (tests and drivers use it).
    virtual void Click() = 0;

private:
    TForm& FForm;
    std::string FName;
    TControlKind FKind;
};

class TButton : public TControl {
public:
    using TControl::TControl;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
};

class TGroupBox : public TControl {
public:
    using TControl::TControl;
};

// A plain area that clips what lies in it.
class TPanel : public TControl {
public:
    using TControl::TControl;
};

// A sunken line along the bottom of its bounds.
class TBevel : public TControl {
public:
    using TControl::TControl;
};

class TProgressBar : public TControl {
public:
    using TControl::TControl;
    // An empty range (max <= min) shows an empty bar, never a busy animation.
    virtual void SetRange(int min, int max) = 0;
    virtual int Min() const = 0;
    virtual int Max() const = 0;
    // Clamped to the range.
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
};

// The pictures a backend draws from the system rather than from a file.
enum class TStockIcon { None, Warning, Application };

class TImage : public TControl {
public:
    using TControl::TControl;
    // Shows a copy of graphic (scaled to the bounds when the description stretches it).
    virtual void SetGraphic(const TGraphic& graphic) = 0;
    virtual void SetStockIcon(TStockIcon icon) = 0;
    virtual void Clear() = 0;
    virtual bool HasPicture() const = 0;
};

// A drop-down list the operator can only pick from.
class TComboBox : public TControl {
public:
    using TControl::TControl;
    virtual void Clear() = 0;
    // description: shown beside the text in the open list ("" for none); the entry's text
    // stays the bare text.
    virtual void AddItem(const std::string& text, const std::string& description = "") = 0;
    virtual int Count() const = 0;
    virtual std::string ItemText(int index) const = 0;
    virtual std::string ItemDescription(int index) const = 0;
    // -1: nothing selected.
    virtual int ItemIndex() const = 0;
    virtual void SetItemIndex(int index) = 0;
    // The operator picked an entry (not when the program selects one). Pick(i) does what
    // the operator's pick does.
    std::function<void()> OnPick;
    virtual void Pick(int index) = 0;
};
