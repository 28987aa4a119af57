#pragma once
// The abstract operator prompt the boot connect uses; the window-based one lives in the UI.
#include <QObject>
#include <string>

class TUserPrompt : public QObject {
public:
    explicit TUserPrompt(QObject* owner = nullptr) : QObject(owner) { }
    virtual void ShowPrompt(const std::string& /*text*/) { }
    virtual bool Cancelled() { return false; }
    virtual void HidePrompt() { }
};
