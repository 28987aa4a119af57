// moravent-flash: the programming tool's window. Everything it programs comes from the
// stored data block inside this executable.
#include <memory>
#include <typeinfo>

#include "app/window/parent_console.h"
#include "framework/cmdline.h"
#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/backend.h"
#include "ui/about.h"
#include "ui/user.h"
#include "ui/usrserial.h"
#include "ui/wizard.h"

namespace {

const char Usage[] = "usage: moravent-flash [--help | --version]\n"
                     "\n"
                     "The operator's window for programming a unit with the job stamped into this\n"
                     "program by 'moravent-job build'. It takes no other options.\n"
                     "  --help     this text\n"
                     "  --version  the program's name and version\n";

// False when --help or --version has been answered.
bool ParseArguments(int argc, char** argv)
{
    TCommandLine cmd("moravent-flash", Usage);
    cmd.UnknownOptionText = "unknown option \"%1\" (it takes none but --help and --version)";
    if (!cmd.Parse(argc, argv))
        return false;
    if (!cmd.Positional().empty())
        throw EUsageError("unknown argument '" + cmd.Positional()[0] + "'");
    std::string why;
    if (!WindowsAvailable(why))
        throw Exception("cannot open a window: " + why);
    return true;
}

// Last resort for a window that cannot be created at start-up: the program cannot run.
int ApplicationError(const std::exception& e)
{
    const auto* ours = dynamic_cast<const Exception*>(&e);
    BackendMessageBox(TBoxIcon::Stop, "Application Error",
                      std::string("Exception ") + (ours ? ours->className() : typeid(e).name()) +
                          " in module moravent-flash.\n" + WithFullStop(e.what()));
    return 1;
}

// The four windows, the main one first, and the others owned by it.
struct TWindows {
    std::unique_ptr<TfrmUserFlash> Main;
    std::unique_ptr<TfrmAbout> About;
    std::unique_ptr<TfrmUsrSerial> UsrSerial;
    std::unique_ptr<TfrmConnectWiz> ConnectWiz;

    void Create()
    {
        Main = std::make_unique<TfrmUserFlash>();
        SetMainForm(&Main->Form());
        About = std::make_unique<TfrmAbout>(&Main->Form());
        frmAbout = About.get();
        UsrSerial = std::make_unique<TfrmUsrSerial>(&Main->Form());
        frmUsrSerial = UsrSerial.get();
        ConnectWiz = std::make_unique<TfrmConnectWiz>(&Main->Form());
        frmConnectWiz = ConnectWiz.get();
    }
    ~TWindows()
    {
        frmConnectWiz = nullptr;
        frmUsrSerial = nullptr;
        frmAbout = nullptr;
        ConnectWiz.reset();
        UsrSerial.reset();
        About.reset();
        SetMainForm(nullptr);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        UseParentConsole();
    bool goOn = true;
    if (const int status = RunMain("moravent-flash",
                                   [&] {
                                       goOn = ParseArguments(argc, argv);
                                       return ExitOk;
                                   });
        status != ExitOk || !goOn)
        return status;

    TWindowApplication app(argc, argv);
    SetApplicationTitle(DefaultApplicationTitle);
    TWindows windows;
    try {
        windows.Create();
    } catch (const std::exception& e) {
        return ApplicationError(e);
    }
    return app.Run(windows.Main->Form());
}
