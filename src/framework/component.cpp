#include "framework/component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : FOwner(owner)
{
    if (FOwner)
        FOwner->FComponents.push_back(this);
}

TComponent::~TComponent()
{
    // A listener may remove others (or itself) while it runs: take them one at a time.
    while (!FListeners.empty()) {
        std::function<void()> fn = std::move(FListeners.front().Fn);
        FListeners.erase(FListeners.begin());
        if (fn)
            fn();
    }
    // An owned component may free a sibling on its way out; the list is reread each time.
    while (!FComponents.empty()) {
        TComponent* child = FComponents.front();
        FComponents.erase(FComponents.begin());
        child->FOwner = nullptr;
        delete child;
    }
    if (FOwner) {
        auto& siblings = FOwner->FComponents;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

int TComponent::AddFreeNotification(std::function<void()> fn)
{
    const int id = FNextListenerId++;
    FListeners.push_back({id, std::move(fn)});
    return id;
}

void TComponent::RemoveFreeNotification(int id)
{
    std::erase_if(FListeners, [id](const TListener& l) { return l.Id == id; });
}
