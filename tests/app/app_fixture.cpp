#include "app_fixture.h"

#include <QApplication>
#include <cstring>

#include "framework/graphics.h"
#include "storage/block_writer.h"
#include "storage/storeexe.h"
#include "ui/about.h"
#include "ui/user.h"
#include "ui/userprompt_dialog.h"
#include "ui/usrserial.h"
#include "ui/wizard.h"

#include <QBuffer>
#include <QImage>

namespace {

std::vector<uint8_t> BitmapFile()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> BuildBlock(const JobSpec& job)
{
    std::vector<uint8_t> payload = NewPayload();
    PutI32(payload, layout::StructureVersion, job.version);
    PutText(payload, layout::ImageTitle, layout::TextWidth, job.title);
    PutSerialSettings(payload, layout::ConnectSerial, 7, 3, 0, 0);
    PutSerialSettings(payload, layout::ProgramSerial, 12, 3, 0, 0);
    PutText(payload, layout::BootConnect, layout::TextWidth, "SyNcBoOt");
    PutText(payload, layout::UserConnect, layout::TextWidth, "%02XM5281%03");
    PutText(payload, layout::ConnectResponse, layout::TextWidth, "SyNcBoOt");
    PutI32(payload, layout::FlashStart, job.flashStart);
    PutI32(payload, layout::FlashLength, job.flashLength);
    PutI32(payload, layout::ImageLength,
           job.imageLength != -1 ? job.imageLength : static_cast<int32_t>(job.image.size()));
    PutI32(payload, layout::FlashBlockSize, 2048);
    PutU16(payload, layout::FlashCheckSeed, job.seed);
    PutU8(payload, layout::FlashVerification, 1);
    PutU8(payload, layout::FlashEncryption, 0xFF);
    PutRegion(payload, layout::ImageRegion, layout::ImageRegionSize, job.image.data(), job.image.size());
    if (job.picture) {
        const std::vector<uint8_t> bmp = BitmapFile();
        PutU8(payload, layout::PictureType, layout::PictureBitmap);
        PutRegion(payload, layout::PictureRegion, layout::PictureRegionSize, bmp.data(), bmp.size());
    } else {
        PutU8(payload, layout::PictureType, 7);
    }
    std::string text;
    for (size_t i = 0; i < job.instructions.size(); ++i)
        text += (i ? "\r\n" : "") + job.instructions[i];
    PutText(payload, layout::Instructions, layout::InstructionsSize, text);
    PutU8(payload, layout::LogSwitch, job.log ? 1 : 0);

    std::vector<uint8_t> block(layout::BlockSize, 0);
    std::memcpy(block.data(), "TEST-BLOCK-MARKER-00", layout::MarkerSize);
    if (job.blank)
        return block;
    std::memcpy(block.data() + layout::PayloadOffset, payload.data(), payload.size());
    uint32_t sum = PayloadChecksum(payload.data()) + (job.spoilChecksum ? 1 : 0);
    for (int i = 0; i < 4; ++i)
        block[layout::ChecksumOffset + i] = static_cast<uint8_t>(sum >> (8 * i));
    return block;
}

} // namespace

std::vector<uint8_t> AppHarness::TestImage(int blocks)
{
    std::vector<uint8_t> image(static_cast<size_t>(blocks) * 128);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

AppHarness::AppHarness(const JobSpec& job, const std::string& exeName) : FBlock(BuildBlock(job))
{
    FExePath = FDir.path().toStdString() + "/" + exeName;
    SetApplicationTitle(DefaultApplicationTitle);
    FSavedMsg = MessageDlgHook;
    FSavedError = ErrorDisplayHook;
    MessageDlgHook = [this](TMsgDlgType type, const std::string& text) {
        Record(type == mtMessage ? "message" : MessageDlgCaption(type), text);
        if (type == mtInformation && FOperator.duringSuccess)
            FOperator.duringSuccess();
    };
    ErrorDisplayHook = [this](const std::exception& e) { Record("error-display", ErrorDisplayText(e)); };

    FForm = std::make_unique<TfrmUserFlash>(FBlock.data(), FExePath);
    SetMainForm(&FForm->Form());
    FAbout = std::make_unique<TfrmAbout>(&FForm->Form());
    FUsrSerial = std::make_unique<TfrmUsrSerial>(&FForm->Form());
    FConnectWiz = std::make_unique<TfrmConnectWiz>(&FForm->Form());
    frmAbout = FAbout.get();
    frmUsrSerial = FUsrSerial.get();
    frmConnectWiz = FConnectWiz.get();
    FForm->Form().Show();

    FAnswerTimer.setInterval(10);
    QObject::connect(&FAnswerTimer, &QTimer::timeout, [this] { AnswerModal(); });
}

AppHarness::~AppHarness()
{
    FAnswerTimer.stop();
    frmAbout = nullptr;
    frmUsrSerial = nullptr;
    frmConnectWiz = nullptr;
    FConnectWiz.reset();
    FUsrSerial.reset();
    FAbout.reset();
    SetMainForm(nullptr);
    FForm.reset();
    MessageDlgHook = FSavedMsg;
    ErrorDisplayHook = FSavedError;
}

void AppHarness::Record(const std::string& kind, const std::string& text)
{
    Shown s;
    s.kind = kind;
    s.text = text;
    if (FForm) {
        s.startEnabled = FForm->btnStart.Enabled();
        s.busy = FForm->Busy;
        s.label = FForm->lblProgress.Caption();
        s.bar = FForm->ProgressBar.Position();
    }
    Dialogs.push_back(s);
}

void AppHarness::AnswerModal()
{
    TdlgUserPrompt* prompt = FForm->PromptDialog ? FForm->PromptDialog->Dialog() : nullptr;
    if (prompt && prompt->Form().Visible() && FOperator.cancelResetPrompt && prompt->ModalResult() != mrCancel) {
        Record("Prompt", prompt->lblDialogText.Caption());
        prompt->CancelBtn.Click();
    }
    TForm* modal = TForm::ActiveModal();
    if (modal == &FUsrSerial->Form()) {
        Record("UsrSerial", FForm->ConnectChoice.Port->Port());
        if (FOperator.cancelPortSelection) {
            FUsrSerial->btnCancel.Click();
        } else {
            if (!FOperator.port.empty())
                FForm->ConnectChoice.Port->SetPort(FOperator.port);
            FUsrSerial->btnOk.Click();
        }
    } else if (modal == &FConnectWiz->Form()) {
        Record("Wizard", "");
        (FOperator.cancelWizard ? FConnectWiz->btnCancel : FConnectWiz->btnNext).Click();
    }
}

void AppHarness::Run(const Operator& op)
{
    FOperator = op;
    FAnswerTimer.start();
    FForm->btnStart.Click();
    FAnswerTimer.stop();
}

std::vector<std::string> AppHarness::Kinds() const
{
    std::vector<std::string> kinds;
    for (const Shown& s : Dialogs)
        kinds.push_back(s.kind);
    return kinds;
}

const Shown* AppHarness::Find(const std::string& kind) const
{
    for (const Shown& s : Dialogs)
        if (s.kind == kind)
            return &s;
    return nullptr;
}
