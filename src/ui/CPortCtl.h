#pragma once
// A drop-down list of one serial-port setting (normally the system's port names) that
// selects the entry matching a linked port and writes the operator's pick into it.
#include <functional>
#include <string>
#include <vector>

#include "framework/forms/controls.h"
#include "serial/CPort.h"

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// Source of the port names; replaceable so tests can list a fake tree.
extern std::function<void(std::vector<std::string>&)> ComPortLister;
// A short description of each listed port (the adapter, "built-in serial port", a link's
// target), shown beside its name in the drop-down; "" for none. Replaceable like the lister.
extern std::function<std::vector<std::string>(const std::vector<std::string>& names)> ComPortDescriber;

class TComComboBox;

// The combo box's companion: the remembered settings, the listed property, the linked
// port and the apply switch. Its item list is the combo box's.
class TComSelect {
public:
    explicit TComSelect(TComComboBox* owner) : FOwner(owner) { }

    std::string Port;
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;
    TFlowControl FlowControl = fcNone;

    TComProperty ComProperty = cpNone;
    TCustomComPort* ComPort = nullptr;
    bool AutoApply = false;

    // Refills the item list for ComProperty.
    void FillList();
    // Index of the entry matching the linked port's setting, or -1.
    int MatchingIndex() const;
    // Remembers the picked text and, with AutoApply, writes it into the linked port.
    void Change(const std::string& text);

private:
    TComComboBox* FOwner;
};

// The behaviour of the port drop-down over a form's drop-down list control.
class TComComboBox {
public:
    explicit TComComboBox(TComboBox& box);
    ~TComComboBox();
    TComComboBox(const TComComboBox&) = delete;
    TComComboBox& operator=(const TComComboBox&) = delete;

    TComboBox& Box() const { return FBox; }
    TCustomComPort* ComPort() const { return FSelect.ComPort; }
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return FSelect.ComProperty; }
    // Fills the list (cpPort reads the system's ports and may raise EComPort 23).
    void SetComProperty(TComProperty value);
    bool AutoApply() const { return FSelect.AutoApply; }
    void SetAutoApply(bool value) { FSelect.AutoApply = value; }
    // The selected entry, or "" when nothing is selected. Setting selects the entry equal
    // to the text (ignoring case); an unlisted text changes nothing.
    std::string Text() const;
    void SetText(const std::string& text);

    // Reads the list again, keeping the selection rules: the linked port's entry, or
    // without a port the previous pick when still listed, else the first entry.
    void RefreshList();

    // Index of the entry equal to text ignoring case, or -1.
    int IndexOfText(const std::string& text) const;

    const TComSelect& ComSelect() const { return FSelect; }

    // The operator picked an entry (after the linked port has been updated).
    std::function<void()> OnChange;

    // The step run when the operator picks an entry.
    void Change();

private:
    void Notification(); // the linked port is being destroyed
    void SelectMatching();
    void Unlink();
    TComboBox& FBox;
    TComSelect FSelect;
    int FFreeNotification = 0;
};
