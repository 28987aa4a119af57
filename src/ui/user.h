#pragma once
// The main window: progress label and bar, the tool's icon and the Start button. Its
// creation checks the stored job and configures the flash controller; Start runs one
// programming run (port selection, connect wizard, connect, erase, program, verify, finish).
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "flash/fdt.h"
#include "flash/h83664.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class TExeProgrammingInfo;
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
// the last '/') replaced by "_log.txt", or "_log.txt" appended when it has none.
QString LogFileNameFor(const QString& executablePath);

class TProgrammingRun;

class TfrmUserFlash : public QWidget {
    Q_OBJECT
public:
    // block: the stored data block to run from (the program's own one by default);
    // executablePath: where the log goes beside (the running program by default).
    explicit TfrmUserFlash(const uint8_t* block = nullptr, const QString& executablePath = {},
                           QWidget* parent = nullptr);
    ~TfrmUserFlash() override;

    QProgressBar* ProgressBar;
    QPushButton* btnStart;
    QLabel* lblProgress;
    QLabel* ImageMV;

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

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FormCreate(const uint8_t* block);
    void FormDestroy();
    void AddAboutMenuItem();
    void LoadWizardText(int& missing);

    class LabelSink;
    class BarSink;
    class RunFrontEnd;
    std::unique_ptr<TProgrammingRun> FRun;
    std::unique_ptr<LabelSink> FStatusSink;
    std::unique_ptr<BarSink> FProgressSink;
    QMenu* FSystemMenu = nullptr;
    QString FExecutablePath;
};
