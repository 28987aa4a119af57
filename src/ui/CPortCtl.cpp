#include "ui/CPortCtl.h"

#include <cctype>

#include "serial/portlist.h"

std::function<void(std::vector<std::string>&)> ComPortLister = [](std::vector<std::string>& names) {
    ListSerialPorts(names);
};

std::function<std::vector<std::string>(const std::vector<std::string>&)> ComPortDescriber =
    [](const std::vector<std::string>& names) {
        std::vector<std::string> out(names.size());
        try {
            const std::vector<TPlatformPort> ports = ListSerialPortInfo();
            for (size_t i = 0; i < names.size(); ++i)
                for (const TPlatformPort& p : ports)
                    if (p.Name == names[i])
                        out[i] = PortDescription(p);
        } catch (const std::exception&) {
            // Descriptions are a help; the names alone still work.
        }
        return out;
    };

namespace {

const std::vector<std::string>& SettingTexts(TComProperty property)
{
    static const std::vector<std::string> none;
    static const std::vector<std::string> baud = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                                  "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                                  "57600",  "115200", "128000", "256000"};
    static const std::vector<std::string> data = {"5", "6", "7", "8"};
    static const std::vector<std::string> stop = {"1", "1.5", "2"};
    static const std::vector<std::string> parity = {"None", "Odd", "Even", "Mark", "Space"};
    static const std::vector<std::string> flow = {"Hardware", "Software", "None", "Custom"};
    switch (property) {
    case cpBaudRate: return baud;
    case cpDataBits: return data;
    case cpStopBits: return stop;
    case cpParity: return parity;
    case cpFlowControl: return flow;
    default: return none;
    }
}

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

void TComSelect::FillList()
{
    std::vector<std::string> items;
    if (ComProperty == cpPort)
        ComPortLister(items);
    else
        items = SettingTexts(ComProperty);
    std::vector<std::string> descriptions;
    if (ComProperty == cpPort && ComPortDescriber)
        descriptions = ComPortDescriber(items);
    TComboBox& box = FOwner->Box();
    box.Clear();
    for (size_t i = 0; i < items.size(); ++i)
        box.AddItem(items[i], i < descriptions.size() ? descriptions[i] : std::string());
}

int TComSelect::MatchingIndex() const
{
    if (!ComPort)
        return -1;
    switch (ComProperty) {
    case cpPort: return FOwner->IndexOfText(ComPort->Port());
    case cpBaudRate: return static_cast<int>(ComPort->BaudRate());
    case cpDataBits: return static_cast<int>(ComPort->DataBits());
    case cpStopBits: return static_cast<int>(ComPort->StopBits());
    case cpParity: return static_cast<int>(ComPort->Parity()->Bits());
    case cpFlowControl: return static_cast<int>(ComPort->FlowControl()->FlowControl());
    default: return -1;
    }
}

void TComSelect::Change(const std::string& text)
{
    if (ComProperty == cpPort) {
        Port = text;
        if (AutoApply && ComPort)
            ComPort->SetPort(text);
        return;
    }
    int index = FOwner->IndexOfText(text);
    if (index < 0)
        return;
    switch (ComProperty) {
    case cpBaudRate:
        BaudRate = static_cast<TBaudRate>(index);
        if (AutoApply && ComPort)
            ComPort->SetBaudRate(BaudRate);
        break;
    case cpDataBits:
        DataBits = static_cast<TDataBits>(index);
        if (AutoApply && ComPort)
            ComPort->SetDataBits(DataBits);
        break;
    case cpStopBits:
        StopBits = static_cast<TStopBits>(index);
        if (AutoApply && ComPort)
            ComPort->SetStopBits(StopBits);
        break;
    case cpParity:
        Parity = static_cast<TParityBits>(index);
        if (AutoApply && ComPort)
            ComPort->Parity()->SetBits(Parity);
        break;
    case cpFlowControl:
        FlowControl = static_cast<TFlowControl>(index);
        if (AutoApply && ComPort)
            ComPort->FlowControl()->SetFlowControl(FlowControl);
        break;
    default: break;
    }
}

TComComboBox::TComComboBox(TComboBox& box) : FBox(box), FSelect(this)
{
    FBox.OnPick = [this] { Change(); };
}

TComComboBox::~TComComboBox()
{
    Unlink();
}

void TComComboBox::Unlink()
{
    if (FSelect.ComPort && FFreeNotification != 0)
        FSelect.ComPort->RemoveFreeNotification(FFreeNotification);
    FFreeNotification = 0;
}

void TComComboBox::SetComPort(TCustomComPort* port)
{
    if (port == FSelect.ComPort)
        return;
    Unlink();
    FSelect.ComPort = port;
    if (port) {
        FFreeNotification = port->AddFreeNotification([this] { Notification(); });
        SelectMatching();
    }
}

void TComComboBox::SetComProperty(TComProperty value)
{
    FSelect.ComProperty = value;
    FSelect.FillList();
    if (FBox.Count() > 0) {
        if (!FSelect.ComPort)
            FBox.SetItemIndex(0);
        else
            SelectMatching();
    }
}

void TComComboBox::SelectMatching()
{
    const int index = FSelect.MatchingIndex();
    FBox.SetItemIndex(index < FBox.Count() ? index : -1);
    if (index >= 0 && index < FBox.Count() && FSelect.ComProperty == cpPort)
        FSelect.Port = FBox.ItemText(index);
}

void TComComboBox::Notification()
{
    FSelect.ComPort = nullptr;
    FFreeNotification = 0;
    if (FBox.Count() > 0)
        FBox.SetItemIndex(0);
}

std::string TComComboBox::Text() const
{
    return FBox.ItemIndex() >= 0 ? FBox.ItemText(FBox.ItemIndex()) : std::string();
}

void TComComboBox::SetText(const std::string& text)
{
    const int index = IndexOfText(text);
    if (index >= 0)
        FBox.SetItemIndex(index);
}

int TComComboBox::IndexOfText(const std::string& text) const
{
    for (int i = 0; i < FBox.Count(); ++i)
        if (SameText(FBox.ItemText(i), text))
            return i;
    return -1;
}

void TComComboBox::RefreshList()
{
    const std::string previous = Text();
    FSelect.FillList();
    if (FBox.Count() == 0)
        return;
    if (FSelect.ComPort) {
        SelectMatching();
        return;
    }
    const int index = IndexOfText(previous);
    FBox.SetItemIndex(index >= 0 ? index : 0);
}

void TComComboBox::Change()
{
    FSelect.Change(Text());
    if (OnChange)
        OnChange();
}
