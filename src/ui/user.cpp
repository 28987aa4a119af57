#include "ui/user.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "flash/run.h"
#include "framework/graphics.h"
#include "serial/logging.h"
#include "serial/serial_platform.h"
#include "storage/dev_params.h"
#include "storage/exist_ms.h"
#include "storage/storeexe.h"
#include "ui/about.h"
#include "ui/componentowner.h"
#include "ui/errordisplay.h"
#include "ui/formutil.h"
#include "ui/icons.h"
#include "ui/msgdialog.h"
#include "ui/userprompt_dialog.h"
#include "ui/usrserial.h"
#include "ui/wizard.h"

TfrmAbout* frmAbout = nullptr;
TfrmUsrSerial* frmUsrSerial = nullptr;
TfrmConnectWiz* frmConnectWiz = nullptr;

QString LogFileNameFor(const QString& executablePath)
{
    return QFile::decodeName(CommsLogFileFor(QFile::encodeName(executablePath).toStdString()).c_str());
}

// Status texts go into the progress label.
class TfrmUserFlash::LabelSink : public IStatusSink {
public:
    explicit LabelSink(QLabel* label) : FLabel(label) { }
    void SetStatusText(const std::string& text) override
    {
        FLabel->setText(ToQString(text));
        FLabel->adjustSize();
    }

private:
    QLabel* FLabel;
};

// The window's part of a run: port selection and wizard before connecting, and the
// confirmation box before the boot method. What the run tells besides (a unit that is not
// the job's) and the lines that explain a failure go into the next box, after its own text.
class TfrmUserFlash::RunFrontEnd : public TRunFrontEnd {
public:
    explicit RunFrontEnd(TfrmUserFlash& form) : FForm(form) { }
    void BeforeConnect() override { FForm.PrepareConnect(); }
    void Notice(const std::string& text) override { Pending.push_back(text); }
    void BootMethodNotice(const std::string& reason, const std::vector<std::string>& details) override
    {
        std::string text =
            "User Connect Method Failed (" + reason + ").\r\rNow Trying Boot Method: Turn unit off, and click Ok.";
        Pending.insert(Pending.end(), details.begin(), details.end());
        for (size_t i = 0; i < Pending.size(); ++i)
            text += (i == 0 ? "\r\r" : "\r") + Pending[i];
        Pending.clear();
        MessageDlg(mtConfirmation, ToQString(text));
    }
    // Lines told since the last box, ahead of the failure's own details.
    void AddPendingTo(Exception& failure)
    {
        std::vector<std::string> lines = Pending;
        lines.insert(lines.end(), failure.Details().begin(), failure.Details().end());
        failure.SetDetails(std::move(lines));
        Pending.clear();
    }

private:
    TfrmUserFlash& FForm;
    std::vector<std::string> Pending;
};

// Progress goes into the bar; stepping clamps to its range as a progress bar does.
class TfrmUserFlash::BarSink : public IProgressSink {
public:
    explicit BarSink(QProgressBar* bar) : FBar(bar) { }
    // An empty range would make the bar animate as busy; it stays still instead.
    void SetRange(int min, int max) override { FBar->setRange(min, std::max(max, min + 1)); }
    void SetStep(int step) override { FStep = step; }
    void SetPosition(int position) override { FBar->setValue(std::clamp(position, FBar->minimum(), FBar->maximum())); }
    void StepBy(int delta) override { SetPosition(Position() + delta); }
    int Position() const override { return std::max(FBar->value(), FBar->minimum()); }

private:
    QProgressBar* FBar;
    int FStep = 1;
};

TfrmUserFlash::TfrmUserFlash(const uint8_t* block, const QString& executablePath, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FExecutablePath(executablePath.isEmpty() ? QCoreApplication::applicationFilePath() : executablePath)
{
    setObjectName(QStringLiteral("frmUserFlash"));
    setFont(FormFont());
    setFixedSize(295, 97);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setGeometry(56, 24, 233, 25);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    btnStart = new QPushButton(QStringLiteral("Start"), this);
    btnStart->setGeometry(112, 64, 75, 25);
    btnStart->setDefault(true);

    lblProgress = new QLabel(QStringLiteral("Progress"), this);
    lblProgress->move(56, 8);
    lblProgress->adjustSize();

    ImageMV = new QLabel(this);
    ImageMV->setGeometry(8, 8, 32, 32);

    setTabOrder(ProgressBar, btnStart);
    connect(btnStart, &QPushButton::clicked, this, [this] { GuardedCall([this] { btnStartClick(); }); });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [this] { GuardedCall([this] { WMSysCommand(AboutCommand); }); });

    FStatusSink = std::make_unique<LabelSink>(lblProgress);
    FProgressSink = std::make_unique<BarSink>(ProgressBar);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    GuardedCall([this, block] { FormCreate(block); });
}

TfrmUserFlash::~TfrmUserFlash()
{
    FormDestroy();
}

void TfrmUserFlash::FormCreate(const uint8_t* block)
{
    AddAboutMenuItem();
    ImageMV->setPixmap(ApplicationIcon().pixmap(32, 32));
    setWindowTitle(ApplicationTitle());
    Busy = false;
    ConnectChoice.Port = new TBriskoComPort();
    // The component's "COM1" under the name the port list shows for it, so it is found there.
    ConnectChoice.Port->SetPort(ListedPortName(ConnectChoice.Port->Port()));
    OwnComponent(this, ConnectChoice.Port);
    ImageValid = false;
    try {
        PromptDialog = new TUserPromptDialog(this);
        FRun = std::make_unique<TProgrammingRun>(FStatusSink.get(), FProgressSink.get(), PromptDialog);
        Flash = &FRun->Flash();
        Flash->Device->OnKeepAliveError = [](const Exception& e) { ShowException(e); };
        FRun->LoadJob(TJob::Over(block ? block : StoredDataBlock), [this](bool recordAsks) {
            if (recordAsks)
                StartLog();
        });
        ProgInfo = FRun->Info();
        const std::string title = ProgInfo->GetImageTitle();
        if (!title.empty()) {
            SetApplicationTitle(ToQString(title));
            setWindowTitle(ApplicationTitle());
        }
        try {
            TIcon icon;
            ProgInfo->LoadIcon(icon);
            const QPixmap pixmap = QPixmap::fromImage(icon.ToImage());
            if (!pixmap.isNull()) {
                ImageMV->setPixmap(pixmap.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
                setWindowIcon(QIcon(pixmap));
            }
        } catch (const std::exception&) {
            // A bad icon only costs the tool its own picture.
        }
        ImageValid = true;
    } catch (const std::exception& e) {
        // Any failure, ours or the library's (an allocation, a thread start), means no job.
        btnStart->setEnabled(false);
        Exception invalid(NoValidImageMessage(e.what()));
        if (IsBlankStoredBlock(block ? block : StoredDataBlock))
            invalid.AddDetails({"This program carries no job: a release engineer stamps one into a copy of it with "
                                "'moravent-job build JOB.json -o OUT'."});
        throw invalid;
    }
}

void TfrmUserFlash::FormDestroy()
{
    CommsLoggingDestroy();
    // The controller talks through the sinks, so it goes before them.
    Flash = nullptr;
    ProgInfo = nullptr;
    FRun.reset();
    delete ConnectChoice.Port;
    ConnectChoice.Port = nullptr;
}

void TfrmUserFlash::AddAboutMenuItem()
{
    // Linux window managers give no system menu to extend: the window's context menu
    // (right click) carries the standard Close, a separator and "About..." (also F1).
    FSystemMenu = new QMenu(this);
    FSystemMenu->addAction(QStringLiteral("Close"), this, [this] { close(); });
    FSystemMenu->addSeparator();
    QAction* about = FSystemMenu->addAction(QStringLiteral("About..."));
    about->setData(AboutCommand);
    about->setShortcut(QKeySequence(Qt::Key_F1));
    connect(about, &QAction::triggered, this, [this] { GuardedCall([this] { WMSysCommand(AboutCommand); }); });
}

void TfrmUserFlash::contextMenuEvent(QContextMenuEvent* event)
{
    if (FSystemMenu)
        FSystemMenu->exec(event->globalPos());
}

void TfrmUserFlash::WMSysCommand(int command)
{
    if (command == AboutCommand)
        ShowAbout();
}

void TfrmUserFlash::ShowAbout()
{
    if (!frmAbout)
        return;
    if (ImageValid && ProgInfo) {
        const std::string title = ProgInfo->GetImageTitle();
        if (!title.empty())
            frmAbout->SetImageText("Flash Image: " + title);
    }
    ExecModal(*frmAbout);
}

void TfrmUserFlash::SetBusy(bool value)
{
    Busy = value;
    btnStart->setEnabled(!value);
}

void TfrmUserFlash::StartLog()
{
    // A log that cannot be opened is said in a message box; the tool runs on without it.
    SetCommsLogErrorHook([](const std::string& message) { MessageDlg(mtMessage, ToQString(message)); });
    CommsLoggingInit(QFile::encodeName(LogFileNameFor(FExecutablePath)).toStdString());
}

void TfrmUserFlash::closeEvent(QCloseEvent* event)
{
    if (Busy) {
        MessageDlg(mtError, QStringLiteral("Programming in Progress. Please wait until programming is complete."));
        event->ignore();
        return;
    }
    event->accept();
}

void TfrmUserFlash::btnStartClick()
{
    // Without a valid stored job Start stays disabled; nothing can be run then.
    if (Busy || !ImageValid)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetBusy(true);
    std::exception_ptr failure;
    RunFrontEnd frontEnd(*this);
    try {
        FRun->Program(ConnectChoice, TConnectMode::Auto, frontEnd);
        MessageDlg(mtInformation, QStringLiteral("Unit Successfully Programmed!"));
    } catch (Exception& e) {
        frontEnd.AddPendingTo(e);
        failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    // Every way out leaves the port closed and the window ready for the next run.
    if (Flash)
        GuardedCall([this] { Flash->Disconnect(); });
    lblProgress->setText(QStringLiteral("Progress"));
    lblProgress->adjustSize();
    ProgressBar->setValue(0);
    SetBusy(false);
    QApplication::restoreOverrideCursor();
    if (failure)
        std::rethrow_exception(failure);
}

void TfrmUserFlash::PrepareConnect()
{
    frmUsrSerial->SetComPort(ConnectChoice.Port);
    if (ExecModal(*frmUsrSerial) != QDialog::Accepted)
        throw EHitachiFlashException("Connect Cancelled by User");
    ShowConnectWizard();
}

void TfrmUserFlash::ShowConnectWizard()
{
    int missing = 0;
    try {
        TPicture picture;
        ProgInfo->LoadPicture(picture);
        if (!picture.Graphic())
            throw Exception("No picture");
        frmConnectWiz->SetPicture(*picture.Graphic());
    } catch (const std::exception&) {
        ++missing;
    }
    try {
        LoadWizardText(missing);
    } catch (const std::exception&) {
        ++missing;
    }
    if (missing >= 2)
        return;
    if (ExecModal(*frmConnectWiz) != QDialog::Accepted)
        throw EHitachiFlashException("Connect Cancelled by User");
}

void TfrmUserFlash::LoadWizardText(int& missing)
{
    TStringList lines;
    ProgInfo->GetInstructions(lines);
    if (lines.Empty())
        ++missing;
    frmConnectWiz->SetInstructions(lines.Strings());
}
