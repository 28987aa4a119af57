#pragma once
// A whole tool in one test: a stored job built in memory, the four windows, recorders for
// every message box and the error display, and an operator who answers each modal window.
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/forms/application.h"
#include "unitsim/unitsim.h"

class TfrmAbout;
class TfrmConnectWiz;
class TfrmUserFlash;
class TfrmUsrSerial;

// The job to store, with the demo defaults.
struct JobSpec {
    int32_t version = 4;
    std::string title = "Test Scale 2.1";
    std::vector<uint8_t> image; // a whole number of blocks by default (see Job())
    int32_t imageLength = -1;   // -1: the image's size
    int32_t flashStart = 0x1800;
    int32_t flashLength = 256000;
    uint16_t seed = 0x81;
    bool picture = true; // a small bitmap
    std::vector<std::string> instructions = {"Connect the cable.", "Press Next."};
    bool log = false;
    bool spoilChecksum = false;
    bool blank = false; // a program no job was stamped into: marker, then zeros
};

// One recorded dialog: what kind, its caption and text, and the window's state meanwhile.
struct Shown {
    std::string kind; // "Information", "Confirm", "Error", "message", "error-display", "UsrSerial", "Wizard"
    std::string text;
    bool startEnabled = false;
    bool busy = false;
    std::string label;
    int bar = 0;
};

// How the operator answers the modal windows.
struct Operator {
    bool cancelPortSelection = false;
    bool cancelWizard = false;
    bool cancelResetPrompt = false;      // presses Cancel on "Reset the Unit"
    std::string port;                    // written into the operator's port before Ok
    std::function<void()> duringSuccess; // runs while the success box is up
};

class AppHarness {
public:
    explicit AppHarness(const JobSpec& job, const std::string& exeName = "moravent-flash");
    ~AppHarness();

    // Presses Start and returns when the run has ended.
    void Run(const Operator& op);

    TfrmUserFlash* Form() const { return FForm.get(); }
    const std::string& ExePath() const { return FExePath; }
    std::vector<Shown> Dialogs;
    std::vector<std::string> Kinds() const;
    const Shown* Find(const std::string& kind) const;

    static std::vector<uint8_t> TestImage(int blocks);

private:
    void Record(const std::string& kind, const std::string& text);
    void AnswerModal();

    QTemporaryDir FDir;
    std::string FExePath;
    std::vector<uint8_t> FBlock;
    std::unique_ptr<TfrmUserFlash> FForm;
    std::unique_ptr<TfrmAbout> FAbout;
    std::unique_ptr<TfrmUsrSerial> FUsrSerial;
    std::unique_ptr<TfrmConnectWiz> FConnectWiz;
    Operator FOperator;
    QTimer FAnswerTimer;
    std::function<void(TMsgDlgType, const std::string&)> FSavedMsg;
    std::function<void(const std::exception&)> FSavedError;
};
