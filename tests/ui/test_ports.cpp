// The system's port list on fake sysfs and /dev trees, the port combo box's matching and
// pick rules, and the selection window.
#include "framework/forms/qt/controls_qt.h"
#include "framework/forms/qt/form_qt.h"
#include "serial/portlist.h"
#include "ui/CPortCtl.h"
#include "ui/usrserial.h"
#include "ui_test_util.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

class FakeTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        Sys = fs::path(Root.path().toStdString()) / "sys";
        Dev = fs::path(Root.path().toStdString()) / "dev";
        fs::create_directories(Sys);
        fs::create_directories(Dev / "pts");
    }
    void Tty(const std::string& name, bool device, const char* type = nullptr)
    {
        fs::create_directories(Sys / name);
        if (device)
            fs::create_directories(Sys / name / "device");
        if (type)
            WriteFile((Sys / name / "type").string(), std::string(type) + "\n");
    }
    Names List()
    {
        Names names = {"stale entry"};
        ListSerialPorts(names, Sys.string(), Dev.string());
        return names;
    }
    QTemporaryDir Root;
    fs::path Sys, Dev;
};

// Replaces the port source for one test.
class ListerScope {
public:
    explicit ListerScope(Names names) : Saved(ComPortLister), SavedDescriber(ComPortDescriber)
    {
        ComPortDescriber = [](const Names& listed) {
            Names out;
            for (const std::string& n : listed)
                out.push_back(n == "ttyUSB0" ? "FT232R USB UART (FTDI)" : "");
            return out;
        };
        Current = std::move(names);
        ComPortLister = [](Names& out) {
            if (Fail)
                throw EComPort(CError_RegError, 13);
            out = Current;
        };
    }
    ~ListerScope()
    {
        ComPortLister = Saved;
        ComPortDescriber = SavedDescriber;
        Fail = false;
    }
    static inline Names Current;
    static inline bool Fail = false;

private:
    std::function<void(Names&)> Saved;
    std::function<Names(const Names&)> SavedDescriber;
};

// A port drop-down on a form of its own, as the selection window has one.
struct TComboOnForm {
    std::unique_ptr<TForm> Form = TForm::Create([] {
        TFormDesc d;
        d.Name = "frmCombo";
        d.ClientWidth = 200;
        d.ClientHeight = 40;
        d.Controls = {{.Kind = TControlKind::ComboBox, .Name = "Combo", .Bounds = {8, 8, 153, 21}}};
        return d;
    }());
    TComComboBox Combo{Form->Get<TComboBox>("Combo")};
    QComboBox* Widget() const { return qobject_cast<QComboBox*>(QtWidgetOf(Combo.Box())); }
};

} // namespace

TEST_F(FakeTree, ListsRealDevicesAndPtyLinksSortedIgnoringCase)
{
    Tty("ttyS0", true, "4");
    Tty("ttyS1", true, "0"); // 8250 placeholder without hardware
    Tty("ttyS2", true, "4");
    Tty("ttyS10", true, "4");
    Tty("ttyUSB0", true); // no type file: not a serial-core port
    Tty("ttyACM0", true);
    Tty("tty0", false);
    Tty("console", false);
    fs::create_directories(Sys / "ttyGone");
    fs::create_symlink(Sys / "nowhere", Sys / "ttyGone" / "device"); // dangling device link

    WriteFile((Dev / "pts" / "3").string(), "");
    fs::create_symlink("pts/3", Dev / "ttyV0");          // relative, as socat makes it
    fs::create_symlink(Dev / "pts" / "3", Dev / "Virt"); // absolute
    fs::create_symlink("pts/3", Dev / "aux");
    fs::create_symlink("pts/7", Dev / "stale"); // the pty has gone
    fs::create_symlink("pts/ptmx", Dev / "ptmx");
    fs::create_symlink("/proc/self/fd/0", Dev / "stdin"); // reaches a pty only via /proc
    fs::create_symlink("ttyS0", Dev / "modem");
    WriteFile((Dev / "ttyS0").string(), "");

    EXPECT_EQ(List(), (Names{"aux", "ttyACM0", "ttyS0", "ttyS10", "ttyS2", "ttyUSB0", "ttyV0", "Virt"}));
}

TEST_F(FakeTree, NoPortsIsAnEmptyListAndAnUnreadableTreeAnError)
{
    Tty("tty0", false);
    Tty("ttyS0", true, "0");
    EXPECT_EQ(List(), Names{});

    fs::remove_all(Sys);
    fs::remove_all(Dev);
    EXPECT_EQ(List(), Names{}); // no tty class at all: still no ports, not a failure

    for (const fs::path& file : {Sys, Dev}) {
        fs::create_directories(Sys);
        fs::create_directories(Dev);
        fs::remove_all(file);
        WriteFile(file.string(), "not a directory");
        Names names = {"kept"};
        try {
            ListSerialPorts(names, Sys.string(), Dev.string());
            ADD_FAILURE() << file << " read as a directory";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode(), 23);
            EXPECT_EQ(e.SystemError(), ENOTDIR);
            EXPECT_NE(std::string(e.what()).find("Registry error"), std::string::npos);
        }
        EXPECT_EQ(names, Names{"kept"});
        fs::remove(file);
    }
}

// Adapters as the kernel lays them out: the tty's device link into the USB tree, the
// driver link, and the USB device's identity files two or one levels up.
class AdapterTree : public FakeTree {
protected:
    fs::path UsbDevice(const std::string& chain, const std::string& vid, const std::string& pid,
                       const std::string& maker, const std::string& product, const std::string& serial)
    {
        const fs::path dev = Root.path().toStdString() + "/devices/pci0000:00/0000:00:14.0/usb1/" + chain;
        fs::create_directories(dev);
        for (auto [file, text] : {std::pair{"idVendor", vid},
                                  {"idProduct", pid},
                                  {"manufacturer", maker},
                                  {"product", product},
                                  {"serial", serial}})
            if (!text.empty())
                WriteFile((dev / file).string(), text + "\n");
        return dev;
    }
    void Link(const std::string& tty, const fs::path& device, const std::string& driver)
    {
        fs::create_directories(Sys / tty);
        fs::create_directories(device);
        fs::create_symlink(device, Sys / tty / "device");
        const fs::path drv = Root.path().toStdString() + "/bus/drivers/" + driver;
        fs::create_directories(drv);
        fs::create_symlink(drv, device / "driver");
    }
    void OnBus(const fs::path& device, const std::string& bus)
    {
        fs::create_directories(device);
        fs::create_symlink(Root.path().toStdString() + "/bus/" + bus, device / "subsystem");
    }
    // A serial card in a PCI slot; since Linux 6.5 the tty's device is the serial core's port
    // two levels below the card (serial-base bus), before that the card itself.
    void PciCard(const std::string& tty, const fs::path& card, const char* vendor, const char* device, bool portLevels)
    {
        OnBus(card, "pci");
        WriteFile((card / "vendor").string(), std::string(vendor) + "\n");
        WriteFile((card / "device").string(), std::string(device) + "\n");
        Link(tty, portLevels ? SerialBasePort(card) : card, portLevels ? "port" : "serial");
        WriteFile((Sys / tty / "type").string(), "4\n");
    }
    fs::path SerialBasePort(const fs::path& controller)
    {
        const fs::path ctrl = controller / (controller.filename().string() + ":0");
        OnBus(ctrl, "serial-base");
        OnBus(ctrl / (ctrl.filename().string() + ".0"), "serial-base");
        return ctrl / (ctrl.filename().string() + ".0");
    }
};

TEST_F(AdapterTree, EveryAdapterKindSaysWhatItIs)
{
    const fs::path ftdi = UsbDevice("1-1/1-1.4", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
    Link("ttyUSB0", ftdi / "1-1.4:1.0" / "ttyUSB0", "ftdi_sio");
    WriteFile((ftdi / "1-1.4:1.0" / "ttyUSB0" / "latency_timer").string(), "16\n");
    const fs::path acm = UsbDevice("1-2", "2e8a", "000a", "Raspberry Pi", "Pico", "E6614103E7");
    Link("ttyACM0", acm / "1-2:1.0", "cdc_acm");
    Link("ttyS0", Root.path().toStdString() + "/devices/pnp0/00:01", "serial");
    WriteFile((Sys / "ttyS0" / "type").string(), "4\n");
    Link("ttyS1", Root.path().toStdString() + "/devices/platform/serial8250", "serial8250");
    WriteFile((Sys / "ttyS1" / "type").string(), "0\n"); // placeholder without hardware
    WriteFile((Dev / "pts" / "3").string(), "");
    fs::create_symlink("pts/3", Dev / "ttyMV0");
    const fs::path pci = Root.path().toStdString() + "/devices/pci0000:00";
    PciCard("ttyS4", pci / "0000:00:1c.0/0000:03:00.0", "0x1415", "0xc138", false);
    PciCard("ttyS5", pci / "0000:00:1c.1/0000:04:00.0", "0x9710", "0x9865", true);
    const fs::path pnp = Root.path().toStdString() + "/devices/pnp0/00:02";
    OnBus(pnp, "pnp");
    Link("ttyS2", SerialBasePort(pnp), "port");
    const fs::path platform = Root.path().toStdString() + "/devices/platform/fe215040.serial";
    OnBus(platform, "platform");
    Link("ttyS3", platform, "dw-apb-uart");

    struct Row {
        std::string name, path, driver, description;
        int vid, pid;
        std::string serial, usbPath, bus;
    };
    const std::vector<Row> expected = {
        {"ttyACM0", (Dev / "ttyACM0").string(), "cdc_acm", "Pico (Raspberry Pi)", 0x2e8a, 0x000a, "E6614103E7",
         "1-2:1.0", "usb"},
        {"ttyMV0", (Dev / "ttyMV0").string(), "pty", "link to " + (Dev / "pts" / "3").string(), -1, -1, "", "", ""},
        {"ttyS0", (Dev / "ttyS0").string(), "serial", "built-in serial port", -1, -1, "", "", ""},
        {"ttyS2", (Dev / "ttyS2").string(), "port", "built-in serial port", -1, -1, "", "", "pnp"},
        {"ttyS3", (Dev / "ttyS3").string(), "dw-apb-uart", "built-in serial port", -1, -1, "", "", "platform"},
        {"ttyS4", (Dev / "ttyS4").string(), "serial", "PCI serial card (1415:c138)", -1, -1, "", "", "pci"},
        {"ttyS5", (Dev / "ttyS5").string(), "port", "PCI serial card (9710:9865)", -1, -1, "", "", "pci"},
        {"ttyUSB0", (Dev / "ttyUSB0").string(), "ftdi_sio", "FT232R USB UART (FTDI)", 0x0403, 0x6001, "A50285BI",
         "1-1.4:1.0", "usb"},
    };
    const std::vector<TPlatformPort> ports = ListSerialPortInfo(Sys.string(), Dev.string());
    ASSERT_EQ(ports.size(), expected.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        const TPlatformPort& p = ports[i];
        const Row& r = expected[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(p.Name, r.name);
        EXPECT_EQ(p.Path, r.path);
        EXPECT_EQ(p.Driver, r.driver);
        EXPECT_EQ(PortDescription(p), r.description);
        EXPECT_EQ(p.Vid, r.vid);
        EXPECT_EQ(p.Pid, r.pid);
        EXPECT_EQ(p.Serial, r.serial);
        EXPECT_EQ(p.UsbPath, r.usbPath);
        EXPECT_EQ(p.Bus, r.bus);
    }
    WriteFile((Dev / "ttyUSB0").string(), "");
    EXPECT_EQ(LatencyTimerMs((Dev / "ttyUSB0").string(), Sys.string()), 16);
    EXPECT_EQ(LatencyTimerMs((Dev / "ttyMV0").string(), Sys.string()), -1);

    // Selectors name an adapter by what stays the same when ttyUSB numbers move.
    struct Pick {
        std::string selector, port, error;
    };
    const Pick picks[] = {
        {"usb:A50285BI", "ttyUSB0", ""},
        {"usb-path:1-2:1.0", "ttyACM0", ""},
        {"usb-path:1-1.4", "ttyUSB0", ""},
        {"ttyS0", "ttyS0", ""},
        {"usb:NOPE", "",
         "No USB serial adapter with serial number NOPE (present: E6614103E7 on ttyACM0, A50285BI on "
         "ttyUSB0)"},
        {"usb-path:3-1", "",
         "No USB serial adapter with USB path 3-1 (present: 1-2:1.0 on ttyACM0, 1-1.4:1.0 on "
         "ttyUSB0)"},
    };
    for (const Pick& pick : picks) {
        try {
            EXPECT_EQ(ResolvePortSelector(pick.selector, ports), pick.port) << pick.selector;
            EXPECT_EQ(pick.error, "") << pick.selector;
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), pick.error) << pick.selector;
        }
    }
    std::vector<TPlatformPort> twins = ports;
    twins.push_back(ports.back());
    twins.back().Name = "ttyUSB1";
    EXPECT_THROW(ResolvePortSelector("usb:A50285BI", twins), Exception);
    EXPECT_THROW(ResolvePortSelector("usb:X", {}), Exception);
}

TEST(PortList, ThisMachinesTreesReadWithoutErrorAndWithoutStandardStreams)
{
    Names names;
    ASSERT_NO_THROW(ListSerialPorts(names));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), PortNameLess));
    for (const char* stream : {"stdin", "stdout", "stderr", "console", "tty", "ptmx"})
        EXPECT_EQ(std::count(names.begin(), names.end(), stream), 0) << stream;
}

TEST(PortSort, CaseInsensitiveTextOrder)
{
    Names names = {"ttyS2", "COM10", "ttys1", "COM2", "ttyS10", "com1", "ttyUSB0", "TTYACM0"};
    std::sort(names.begin(), names.end(), PortNameLess);
    EXPECT_EQ(names, (Names{"com1", "COM10", "COM2", "TTYACM0", "ttys1", "ttyS10", "ttyS2", "ttyUSB0"}));
}

TEST(ComComboBox, LinkingSelectsTheMatchingEntryWithoutTouchingThePort)
{
    ListerScope ports({"ttyS0", "ttyS1", "ttyS10", "ttyUSB0"});
    struct Case {
        const char* portName;
        int index;
        const char* text;
        const char* remembered;
    };
    const Case cases[] = {
        {"ttyS10", 2, "ttyS10", "ttyS10"},
        {"TTYusb0", 3, "ttyUSB0", "ttyUSB0"}, // found ignoring case; the port keeps its spelling
        {"ttyS3", -1, "", "ttyS0"},           // not listed: nothing selected
        {"COM1", -1, "", "ttyS0"},
    };
    for (const Case& c : cases) {
        TComboOnForm on;
        TComComboBox& combo = on.Combo;
        combo.SetComProperty(cpPort);
        combo.SetAutoApply(true);
        EXPECT_EQ(combo.Text(), "ttyS0"); // no port yet: the first entry
        combo.SetText("ttyS0");
        combo.Change(); // remembered name ttyS0, nothing linked
        TComPort port;
        port.SetPort(c.portName);
        combo.SetComPort(&port);
        EXPECT_EQ(combo.Box().ItemIndex(), c.index) << c.portName;
        EXPECT_EQ(combo.Text(), c.text) << c.portName;
        EXPECT_EQ(combo.ComSelect().Port, c.remembered) << c.portName;
        EXPECT_EQ(port.Port(), c.portName);
        combo.SetComPort(nullptr);
    }
}

// The drop-down shows what each port is; the entry, and so the port's name, stays bare.
TEST(ComComboBox, EntriesShowTheirDescriptionAndKeepTheBareName)
{
    ListerScope ports({"ttyS0", "ttyUSB0"});
    TComboOnForm on;
    TComComboBox& combo = on.Combo;
    combo.SetComProperty(cpPort);
    combo.SetAutoApply(true);
    TComPort port;
    combo.SetComPort(&port);
    EXPECT_EQ(combo.Box().ItemText(1), "ttyUSB0");
    EXPECT_EQ(combo.Box().ItemDescription(1), "FT232R USB UART (FTDI)");
    QStyleOptionViewItem option;
    QComboBox* shown = on.Widget();
    const QSize bare = shown->view()->itemDelegate()->sizeHint(option, shown->model()->index(0, 0));
    const QSize described = shown->view()->itemDelegate()->sizeHint(option, shown->model()->index(1, 0));
    EXPECT_GT(described.width(), bare.width() + 50) << "the description is drawn beside the name";
    combo.Box().Pick(1);
    EXPECT_EQ(port.Port(), "ttyUSB0");
}

TEST(ComComboBox, PickWritesIntoThePortOnlyWithAutoApply)
{
    ListerScope ports({"ttyS0", "ttyS1", "ttyUSB0"});
    for (bool autoApply : {true, false}) {
        TComboOnForm on;
        TComComboBox& combo = on.Combo;
        combo.SetComProperty(cpPort);
        combo.SetAutoApply(autoApply);
        TComPort port;
        port.SetPort("ttyS0");
        combo.SetComPort(&port);
        std::vector<std::string> seenAtChange;
        combo.OnChange = [&] { seenAtChange.push_back(port.Port()); };

        QTest::keyClick(on.Widget(), Qt::Key_Down); // the operator picks the next entry
        EXPECT_EQ(combo.Text(), "ttyS1");
        EXPECT_EQ(combo.ComSelect().Port, "ttyS1");
        EXPECT_EQ(port.Port(), autoApply ? "ttyS1" : "ttyS0");
        EXPECT_EQ(seenAtChange, Names{port.Port()}); // OnChange runs after the port is set
    }
}

TEST(ComComboBox, TextAndPropertyRules)
{
    ListerScope ports({"ttyS0", "ttyS1"});
    TComboOnForm on;
    TComComboBox& combo = on.Combo;
    EXPECT_EQ(combo.Box().Count(), 0); // cpNone by default
    EXPECT_EQ(combo.Text(), "");
    combo.SetComProperty(cpPort);
    combo.SetText("TTYS1");
    EXPECT_EQ(combo.Text(), "ttyS1");
    combo.SetText("ttyS9"); // unlisted: nothing changes
    EXPECT_EQ(combo.Text(), "ttyS1");
    EXPECT_FALSE(on.Widget()->isEditable());
    combo.SetComProperty(cpNone);
    EXPECT_EQ(combo.Box().Count(), 0);

    TComPort port;
    port.SetBaudRate(br19200);
    combo.SetComPort(&port);
    combo.SetComProperty(cpBaudRate);
    EXPECT_EQ(combo.Text(), "19200");
    combo.SetAutoApply(true);
    combo.SetText("115200");
    combo.Change();
    EXPECT_EQ(port.BaudRate(), br115200);
}

TEST(ComComboBox, DestroyingTheLinkedPortUnlinksAndSelectsTheFirstEntry)
{
    ListerScope ports({"ttyS0", "ttyS1", "ttyUSB0"});
    TComboOnForm on;
    TComComboBox& combo = on.Combo;
    combo.SetComProperty(cpPort);
    combo.SetAutoApply(true);
    {
        TComPort port;
        port.SetPort("ttyUSB0");
        combo.SetComPort(&port);
        EXPECT_EQ(combo.Text(), "ttyUSB0");
    }
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.Text(), "ttyS0");
    QTest::keyClick(on.Widget(), Qt::Key_Down); // a pick with no port linked is harmless
    EXPECT_EQ(combo.ComSelect().Port, "ttyS1");
}

TEST(ComComboBox, RefreshKeepsTheSelectionRules)
{
    ListerScope ports({"ttyS0", "ttyS1"});
    TComboOnForm on;
    TComComboBox& combo = on.Combo;
    combo.SetComProperty(cpPort);
    combo.SetText("ttyS1");
    ListerScope::Current = {"ttyACM0", "ttyS0", "ttyS1"}; // an adapter was plugged in
    combo.RefreshList();
    EXPECT_EQ(combo.Box().Count(), 3);
    EXPECT_EQ(combo.Text(), "ttyS1"); // previous pick kept
    ListerScope::Current = {"ttyACM0", "ttyS0"};
    combo.RefreshList();
    EXPECT_EQ(combo.Text(), "ttyACM0"); // gone: first entry

    TComPort port;
    port.SetPort("ttyUSB0");
    combo.SetComPort(&port);
    ListerScope::Current = {"ttyACM0", "ttyS0", "ttyUSB0"};
    combo.RefreshList();
    EXPECT_EQ(combo.Text(), "ttyUSB0"); // the linked port's name
    ListerScope::Fail = true;
    EXPECT_THROW(combo.RefreshList(), EComPort);
    EXPECT_EQ(combo.Box().Count(), 3); // a failed read keeps the list
}

// Runs the window modally while act does what the operator does; returns its result.
int Showing(TfrmUsrSerial& form, const std::function<void()>& act)
{
    QTimer::singleShot(0, act);
    return form.Form().ShowModal();
}

TEST(UsrSerial, PicksGoStraightIntoThePortAndSurviveCancel)
{
    ListerScope ports({"ttyS0", "ttyS1", "ttyUSB0"});
    TfrmUsrSerial form;
    QWidget* window = QtWindowOf(form.Form());
    EXPECT_EQ(form.Form().Caption(), "Select Serial Port");
    EXPECT_EQ(window->size(), QSize(253, 108));
    EXPECT_EQ(form.ComComboBoxPort.Text(), "ttyS0");
    EXPECT_TRUE(form.ComComboBoxPort.AutoApply());

    TComPort port; // starts as COM1, which is not listed
    form.SetComPort(&port);
    EXPECT_EQ(form.ComComboBoxPort.Text(), "");
    EXPECT_EQ(Showing(form, [&] { QTest::keyClick(window, Qt::Key_Return); }), mrOk);
    EXPECT_EQ(port.Port(), "COM1"); // Ok without a pick keeps the name

    EXPECT_EQ(Showing(form,
                      [&] {
                          form.ComComboBoxPort.Box().Pick(2); // the operator picks ttyUSB0
                          QTest::keyClick(window, Qt::Key_Escape);
                      }),
              mrCancel);
    EXPECT_EQ(port.Port(), "ttyUSB0"); // the pick stays for the next run

    ListerScope::Current = {"ttyACM0", "ttyS0", "ttyS1", "ttyUSB0"};
    int listed = 0;
    std::string shown;
    EXPECT_EQ(Showing(form,
                      [&] { // each showing reads the list again
                          listed = form.ComComboBoxPort.Box().Count();
                          shown = form.ComComboBoxPort.Text();
                          form.btnCancel.Click();
                      }),
              mrCancel);
    EXPECT_EQ(listed, 4);
    EXPECT_EQ(shown, "ttyUSB0");
    EXPECT_EQ(Showing(form, [&] { form.Form().Close(); }), mrCancel);
}

TEST(UsrSerial, ListFailuresReachTheErrorDisplayOrStopCreation)
{
    ListerScope ports({"ttyS0"});
    {
        TfrmUsrSerial form;
        TErrorRecorder errors;
        ListerScope::Fail = true;
        Showing(form, [&] { form.btnCancel.Click(); });
        ASSERT_EQ(errors.Messages.size(), 1u);
        EXPECT_NE(errors.Messages[0].find("Registry error"), std::string::npos);
        EXPECT_EQ(form.ComComboBoxPort.Text(), "ttyS0");
    }
    ListerScope::Fail = true;
    EXPECT_THROW(TfrmUsrSerial form, EComPort);

    ListerScope::Fail = false;
    ListerScope::Current = {};
    TfrmUsrSerial empty; // no ports at all: the window still opens
    EXPECT_EQ(empty.ComComboBoxPort.Box().Count(), 0);
}
