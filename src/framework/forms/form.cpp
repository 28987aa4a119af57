#include "framework/forms/form.h"

#include "framework/exceptions.h"

TControl& TForm::Control(const std::string& name) const
{
    for (const auto& c : FControls)
        if (c->Name() == name)
            return *c;
    throw Exception("Form " + FName + " has no control " + name);
}

void TForm::ThrowWrongKind(const std::string& name) const
{
    throw Exception("Control " + name + " of form " + FName + " is of another kind");
}

void TForm::Register(std::unique_ptr<TControl> control)
{
    FControls.push_back(std::move(control));
}

std::unique_ptr<TControl> TForm::Unregister(const std::string& name)
{
    for (auto it = FControls.begin(); it != FControls.end(); ++it)
        if ((*it)->Name() == name) {
            std::unique_ptr<TControl> c = std::move(*it);
            FControls.erase(it);
            return c;
        }
    return nullptr;
}

void TForm::SetModalResult(int result)
{
    FModalResult = result;
    if (FModal && result != mrNone)
        EndModal();
}
