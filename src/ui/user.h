#pragma once
// The main window: progress label and bar, the tool's icon and the Start button. Its
// creation checks the stored job and configures the flash controller; Start runs one
// programming run (port selection, connect wizard, connect, erase, program, verify, finish).
#include <cstdint>
#include <memory>
#include <string>

#include "flash/fdt.h"
#include "flash/h83664.h"
#include "framework/forms/form.h"

class TExeProgrammingInfo;
class TProgrammingRun;
class TUserPromptDialog;
class TfrmAbout;
class TfrmUsrSerial;
class TfrmConnectWiz;

// The application's single instances of the other windows, created by the program entry.
extern TfrmAbout* frmAbout;
extern TfrmUsrSerial* frmUsrSerial;
extern TfrmConnectWiz* frmConnectWiz;

inline constexpr const char* DefaultApplicationTitle = "Moravent Flash Programmer";
inline constexpr int AboutCommand = 1025;

// The communications log of a program: its path with the extension (from the last dot after
// the last separator) replaced by "_log.txt", or "_log.txt" appended when it has none.
std::string LogFileNameFor(const std::string& executablePath);

// The window as described: place and size of every control, caption, border.
const TFormDesc& frmUserFlashDesc();

class TfrmUserFlash {
    std::unique_ptr<TForm> FForm; // first: the controls below are its

public:
    // block: the stored data block to run from (the program's own one by default);
    // executablePath: where the log goes beside (the running program by default).
    explicit TfrmUserFlash(const uint8_t* block = nullptr, const std::string& executablePath = {});
    ~TfrmUserFlash();
    TfrmUserFlash(const TfrmUserFlash&) = delete;
    TfrmUserFlash& operator=(const TfrmUserFlash&) = delete;

    TForm& Form() const { return *FForm; }
    TProgressBar& ProgressBar;
    TButton& btnStart;
    TLabel& lblProgress;
    TImage& ImageMV;

    bool Busy = false;
    bool ImageValid = false;
    const TExeProgrammingInfo* ProgInfo = nullptr; // the run's record, once the job is valid
    TUserPromptDialog* PromptDialog = nullptr;
    TConnectChoice ConnectChoice;
    THitachiFlash* Flash = nullptr; // the run's controller

    void SetBusy(bool value);
    void WMSysCommand(int command);
    void ShowAbout();
    void StartLog();

    // One programming run; errors go to the application's error display after clean-up.
    void btnStartClick();
    // The window's steps before the run connects: port selection, then the connect wizard.
    void PrepareConnect();
    void ShowConnectWizard();

private:
    void FormCreate(const uint8_t* block);
    void FormDestroy();
    bool FormCloseQuery();
    void AddAboutMenuItem();
    void LoadWizardText(int& missing);

    class LabelSink;
    class BarSink;
    class RunFrontEnd;
    std::unique_ptr<TProgrammingRun> FRun;
    std::unique_ptr<LabelSink> FStatusSink;
    std::unique_ptr<BarSink> FProgressSink;
    std::unique_ptr<TBriskoComPort> FOperatorPort;
    std::unique_ptr<TUserPromptDialog> FPromptDialog;
    std::string FExecutablePath;
};
