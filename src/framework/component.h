#pragma once
// Components free what they own: an owned component goes with its owner (in creation
// order, after the owner's own destructor has run), and one freed first leaves its
// owner's list. Others may ask to hear of a component's end (a control showing a port).
#include <functional>
#include <vector>

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    // The owned components, in creation order.
    const std::vector<TComponent*>& Components() const { return FComponents; }

    // fn runs once when this component is being freed, after its subclasses' destructors
    // and before its owned components go. The id removes it again.
    int AddFreeNotification(std::function<void()> fn);
    void RemoveFreeNotification(int id);

private:
    struct TListener {
        int Id;
        std::function<void()> Fn;
    };
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
    std::vector<TListener> FListeners;
    int FNextListenerId = 1;
};
