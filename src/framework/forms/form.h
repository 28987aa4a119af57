#pragma once
// A window built from its description by the toolkit's backend: its controls by name, its
// caption and icon, showing it modelessly or modally, closing and the system menu.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/forms/controls.h"
#include "framework/forms/form_desc.h"

class TIcon;

// Keys a test or a driver can press on a form.
enum class TKey { Enter, Escape, F1 };

class TForm {
public:
    // Builds the form and its controls, hidden. owner: the window it belongs to (its dialogs
    // stay above it and go with it), or null.
    static std::unique_ptr<TForm> Create(const TFormDesc& desc, TForm* owner = nullptr);
    virtual ~TForm() = default;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    const std::string& Name() const { return FName; }
    // Raises Exception naming the control when there is none of that name and kind.
    TControl& Control(const std::string& name) const;
    template <class T> T& Get(const std::string& name) const
    {
        if (auto* c = dynamic_cast<T*>(&Control(name)))
            return *c;
        ThrowWrongKind(name);
    }
    // Controls made after creation (the wizard's instruction lines); Remove frees one.
    virtual TControl& Add(const TControlDesc& desc) = 0;
    virtual void Remove(const std::string& name) = 0;

    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& text) = 0;
    // The window's icon from a graphic (an icon's every size), or the application's.
    virtual void SetIcon(const TIcon& icon) = 0;
    // In pixels at 96 dots per inch; the form keeps this size (no resizing by the operator).
    virtual void SetClientSize(int width, int height) = 0;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;

    // Shows the form without waiting, placed as its description says when it was hidden,
    // and brings it to the front.
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool Visible() const = 0;
    // Runs the form modally, with the normal cursor whatever the caller shows, until a
    // button hands it a result or the operator closes it (Esc, the close box: mrCancel).
    virtual int ShowModal() = 0;
    bool Modal() const { return FModal; }

    // A modal form ends with the result set here; a modeless one only keeps it.
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int result);

    // The close box, Alt+F4 or the system menu's Close: OnCloseQuery decides (true closes).
    // Returns whether the form closed.
    virtual bool Close() = 0;
    std::function<bool()> OnCloseQuery;
    // Runs each time the form turns from hidden to shown, before it is seen.
    std::function<void()> OnShow;

    // An entry of the window's system menu (an empty text is a separator); choosing it calls
    // OnSysCommand with id. shortcut: a key that chooses it too ("F1"), where the toolkit
    // gives the window's menu no key of its own.
    virtual void AddSystemMenuItem(int id, const std::string& text, const std::string& shortcut = "") = 0;
    std::function<void(int id)> OnSysCommand;

    // Presses a key on the form as the operator would (tests and drivers).
    virtual void PressKey(TKey key) = 0;

    // The modal form the operator is looking at, or null.
    static TForm* ActiveModal();

protected:
    TForm(const TFormDesc& desc) : FName(desc.Name) { }
    void Register(std::unique_ptr<TControl> control);
    std::unique_ptr<TControl> Unregister(const std::string& name);
    // Ends a running modal loop (backends).
    virtual void EndModal() = 0;
    bool FModal = false;

private:
    [[noreturn]] void ThrowWrongKind(const std::string& name) const;
    std::string FName;
    std::vector<std::unique_ptr<TControl>> FControls;
    int FModalResult = mrNone;
};
