#pragma once
// The abstract operator prompt the boot connect uses; the window-based one lives in the UI.
#include <string>

#include "framework/component.h"

class TUserPrompt : public TComponent {
public:
    explicit TUserPrompt(TComponent* owner = nullptr) : TComponent(owner) { }
    virtual void ShowPrompt(const std::string& /*text*/) { }
    virtual bool Cancelled() { return false; }
    virtual void HidePrompt() { }
};
