#include "ui/componentowner.h"

#include <QObject>

#include "framework/component.h"

namespace {

// A child of the owner that frees the component when the owner frees its children.
class TComponentHolder : public QObject {
public:
    TComponentHolder(QObject* owner, TComponent* component) : QObject(owner), FComponent(component)
    {
        FNotification = component->AddFreeNotification([this] {
            FComponent = nullptr;
            delete this;
        });
    }
    ~TComponentHolder() override
    {
        if (!FComponent)
            return;
        FComponent->RemoveFreeNotification(FNotification);
        delete FComponent;
    }

private:
    TComponent* FComponent;
    int FNotification;
};

} // namespace

void OwnComponent(QObject* owner, TComponent* component)
{
    if (owner && component)
        new TComponentHolder(owner, component);
}
