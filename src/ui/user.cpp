#include "ui/user.h"

#include <algorithm>

#include "flash/job.h"
#include "flash/run.h"
#include "framework/file_input.h"
#include "framework/forms/application.h"
#include "framework/graphics.h"
#include "serial/logging.h"
#include "serial/serial_platform.h"
#include "storage/dev_params.h"
#include "storage/storeexe.h"
#include "ui/about.h"
#include "ui/userprompt_dialog.h"
#include "ui/usrserial.h"
#include "ui/wizard.h"

TfrmAbout* frmAbout = nullptr;
TfrmUsrSerial* frmUsrSerial = nullptr;
TfrmConnectWiz* frmConnectWiz = nullptr;

std::string LogFileNameFor(const std::string& executablePath)
{
    return CommsLogFileFor(executablePath);
}

const TFormDesc& frmUserFlashDesc()
{
    static const TFormDesc desc = [] {
        TFormDesc d;
        d.Name = "frmUserFlash";
        d.Caption = DefaultApplicationTitle;
        d.ClientWidth = 295;
        d.ClientHeight = 97;
        d.MainWindow = true;
        d.Position = TFormPosition::ScreenCenter;
        d.Controls = {
            {.Kind = TControlKind::ProgressBar, .Name = "ProgressBar", .Bounds = {56, 24, 233, 25}},
            {.Kind = TControlKind::Button,
             .Name = "btnStart",
             .Bounds = {112, 64, 75, 25},
             .Caption = "Start",
             .Default = true},
            {.Kind = TControlKind::Label,
             .Name = "lblProgress",
             .Bounds = {56, 8, 41, 13},
             .Caption = "Progress",
             .AutoSize = true},
            {.Kind = TControlKind::Image, .Name = "ImageMV", .Bounds = {8, 8, 32, 32}},
        };
        return d;
    }();
    return desc;
}

// Status texts go into the progress label.
class TfrmUserFlash::LabelSink : public IStatusSink {
public:
    explicit LabelSink(TLabel& label) : FLabel(label) { }
    void SetStatusText(const std::string& text) override { FLabel.SetCaption(text); }

private:
    TLabel& FLabel;
};

// Progress goes into the bar; stepping clamps to its range as a progress bar does.
class TfrmUserFlash::BarSink : public IProgressSink {
public:
    explicit BarSink(TProgressBar& bar) : FBar(bar) { }
    void SetRange(int min, int max) override { FBar.SetRange(min, max); }
    void SetStep(int step) override { FStep = step; }
    void SetPosition(int position) override { FBar.SetPosition(position); }
    void StepBy(int delta) override { SetPosition(Position() + delta); }
    int Position() const override { return FBar.Position(); }

private:
    TProgressBar& FBar;
    int FStep = 1;
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
        MessageDlg(mtConfirmation, text);
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

TfrmUserFlash::TfrmUserFlash(const uint8_t* block, const std::string& executablePath)
    : FForm(TForm::Create(frmUserFlashDesc())), ProgressBar(FForm->Get<TProgressBar>("ProgressBar")),
      btnStart(FForm->Get<TButton>("btnStart")), lblProgress(FForm->Get<TLabel>("lblProgress")),
      ImageMV(FForm->Get<TImage>("ImageMV")),
      FExecutablePath(executablePath.empty() ? OwnExecutablePath() : executablePath)
{
    btnStart.OnClick = [this] { btnStartClick(); };
    FForm->OnCloseQuery = [this] { return FormCloseQuery(); };
    FForm->OnSysCommand = [this](int command) { WMSysCommand(command); };
    FStatusSink = std::make_unique<LabelSink>(lblProgress);
    FProgressSink = std::make_unique<BarSink>(ProgressBar);
    GuardedCall([this, block] { FormCreate(block); });
}

TfrmUserFlash::~TfrmUserFlash()
{
    FormDestroy();
}

void TfrmUserFlash::FormCreate(const uint8_t* block)
{
    AddAboutMenuItem();
    ImageMV.SetStockIcon(TStockIcon::Application);
    FForm->SetCaption(ApplicationTitle());
    Busy = false;
    // The component's "COM1" under the name the port list shows for it, so it is found there.
    FOperatorPort = std::make_unique<TBriskoComPort>();
    ConnectChoice.Port = FOperatorPort.get();
    ConnectChoice.Port->SetPort(ListedPortName(ConnectChoice.Port->Port()));
    ImageValid = false;
    try {
        FPromptDialog = std::make_unique<TUserPromptDialog>(FForm.get());
        PromptDialog = FPromptDialog.get();
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
            SetApplicationTitle(title);
            FForm->SetCaption(ApplicationTitle());
        }
        try {
            TIcon icon;
            ProgInfo->LoadIcon(icon);
            if (!icon.Empty()) {
                ImageMV.SetGraphic(icon);
                FForm->SetIcon(icon);
            }
        } catch (const std::exception&) {
            // A bad icon only costs the tool its own picture.
        }
        ImageValid = true;
    } catch (const std::exception& e) {
        // Any failure, ours or the library's (an allocation, a thread start), means no job.
        btnStart.SetEnabled(false);
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
    // The controller talks through the sinks and the prompt, so it goes before them.
    Flash = nullptr;
    ProgInfo = nullptr;
    FRun.reset();
    PromptDialog = nullptr;
    FPromptDialog.reset();
    ConnectChoice.Port = nullptr;
    FOperatorPort.reset();
}

void TfrmUserFlash::AddAboutMenuItem()
{
    FForm->AddSystemMenuItem(0, "");
    FForm->AddSystemMenuItem(AboutCommand, "About...", "F1");
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
    frmAbout->Form().ShowModal();
}

void TfrmUserFlash::SetBusy(bool value)
{
    Busy = value;
    btnStart.SetEnabled(!value);
}

void TfrmUserFlash::StartLog()
{
    // A log that cannot be opened is said in a message box; the tool runs on without it.
    SetCommsLogErrorHook([](const std::string& message) { MessageDlg(mtMessage, message); });
    CommsLoggingInit(LogFileNameFor(FExecutablePath));
}

bool TfrmUserFlash::FormCloseQuery()
{
    if (!Busy)
        return true;
    MessageDlg(mtError, "Programming in Progress. Please wait until programming is complete.");
    return false;
}

void TfrmUserFlash::btnStartClick()
{
    // Without a valid stored job Start stays disabled; nothing can be run then.
    if (Busy || !ImageValid)
        return;
    SetBusyCursor(true);
    SetBusy(true);
    std::exception_ptr failure;
    RunFrontEnd frontEnd(*this);
    try {
        FRun->Program(ConnectChoice, TConnectMode::Auto, frontEnd);
        MessageDlg(mtInformation, "Unit Successfully Programmed!");
    } catch (Exception& e) {
        frontEnd.AddPendingTo(e);
        failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    // Every way out leaves the port closed and the window ready for the next run.
    if (Flash)
        GuardedCall([this] { Flash->Disconnect(); });
    lblProgress.SetCaption("Progress");
    ProgressBar.SetPosition(0);
    SetBusy(false);
    SetBusyCursor(false);
    if (failure)
        std::rethrow_exception(failure);
}

void TfrmUserFlash::PrepareConnect()
{
    frmUsrSerial->SetComPort(ConnectChoice.Port);
    if (frmUsrSerial->Form().ShowModal() != mrOk)
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
    if (frmConnectWiz->Form().ShowModal() != mrOk)
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
