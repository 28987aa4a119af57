#include "ui/CPortCtl.h"

#include "serial/portlist.h"
#include "ui/errordisplay.h"
#include "ui/formutil.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>
#include <cctype>

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

// The drop-down's entries read "name   description"; the closed box and the item text keep the name.
class PortItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(PortDescriptionRole).toString();
        if (!description.isEmpty())
            option->text += QStringLiteral("   ") + description;
    }
};

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
    FOwner->clear();
    for (const std::string& item : items)
        FOwner->addItem(ToQString(item));
    if (ComProperty == cpPort && ComPortDescriber) {
        const std::vector<std::string> descriptions = ComPortDescriber(items);
        for (size_t i = 0; i < items.size() && i < descriptions.size(); ++i)
            FOwner->setItemData(int(i), ToQString(descriptions[i]), PortDescriptionRole);
    }
    // The list opens as wide as its longest entry with its description, not just the box.
    if (QAbstractItemView* view = FOwner->view())
        view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth());
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

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), FSelect(this)
{
    setEditable(false); // pick only, no typing
    setItemDelegate(new PortItemDelegate(this));
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) { GuardedCall([this] { Change(); }); });
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
    if (count() > 0) {
        if (!FSelect.ComPort)
            setCurrentIndex(0);
        else
            SelectMatching();
    }
}

void TComComboBox::SelectMatching()
{
    int index = FSelect.MatchingIndex();
    setCurrentIndex(index < count() ? index : -1);
    if (index >= 0 && index < count() && FSelect.ComProperty == cpPort)
        FSelect.Port = FromQString(itemText(index));
}

void TComComboBox::Notification()
{
    FSelect.ComPort = nullptr;
    FFreeNotification = 0;
    if (count() > 0)
        setCurrentIndex(0);
}

std::string TComComboBox::Text() const
{
    return currentIndex() >= 0 ? FromQString(itemText(currentIndex())) : std::string();
}

void TComComboBox::SetText(const std::string& text)
{
    int index = IndexOfText(text);
    if (index >= 0)
        setCurrentIndex(index);
}

int TComComboBox::IndexOfText(const std::string& text) const
{
    for (int i = 0; i < count(); ++i)
        if (SameText(FromQString(itemText(i)), text))
            return i;
    return -1;
}

void TComComboBox::RefreshList()
{
    std::string previous = Text();
    FSelect.FillList();
    if (count() == 0)
        return;
    if (FSelect.ComPort) {
        SelectMatching();
        return;
    }
    int index = IndexOfText(previous);
    setCurrentIndex(index >= 0 ? index : 0);
}

void TComComboBox::Change()
{
    FSelect.Change(Text());
    if (OnChange)
        OnChange();
}
