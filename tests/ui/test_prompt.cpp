// The operator prompt: modeless, Cancel/Esc/close all only record the cancel, shown
// centred on the main window, cancel state cleared by a fresh showing only.
#include "framework/forms/application.h"
#include "framework/forms/qt/form_qt.h"
#include "ui/userprompt_dialog.h"
#include "ui_test_util.h"

#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A plain main window to put the prompt over.
std::unique_ptr<TForm> MainWindow()
{
    TFormDesc desc;
    desc.Name = "frmMain";
    desc.ClientWidth = 500;
    desc.ClientHeight = 400;
    desc.MainWindow = true;
    return TForm::Create(desc);
}

} // namespace

TEST(Prompt, EveryWayToCancelKeepsTheDialogOnScreen)
{
    struct Case {
        const char* what;
        std::function<void(TdlgUserPrompt*)> act;
    };
    const Case cases[] = {
        {"Cancel button", [](TdlgUserPrompt* d) { d->CancelBtn.Click(); }},
        {"Esc", [](TdlgUserPrompt* d) { QTest::keyClick(QtWindowOf(d->Form()), Qt::Key_Escape); }},
        {"close box", [](TdlgUserPrompt* d) { EXPECT_FALSE(d->Form().Close()); }},
    };
    for (const Case& c : cases) {
        TUserPromptDialog prompt;
        prompt.ShowPrompt("Reset the Unit");
        ASSERT_TRUE(prompt.Dialog()->Form().Visible()) << c.what;
        EXPECT_FALSE(QtWindowOf(prompt.Dialog()->Form())->isModal());
        EXPECT_FALSE(prompt.Cancelled()) << c.what;
        c.act(prompt.Dialog());
        EXPECT_TRUE(prompt.Cancelled()) << c.what;
        EXPECT_TRUE(prompt.Dialog()->Form().Visible()) << c.what;
        prompt.HidePrompt();
        EXPECT_FALSE(prompt.Dialog()->Form().Visible()) << c.what;
    }
}

TEST(Prompt, OnlyAFreshShowingClearsTheCancel)
{
    TUserPromptDialog prompt;
    EXPECT_EQ(prompt.Dialog()->Form().Caption(), "User Intervention Required...");
    EXPECT_FALSE(prompt.Dialog()->Form().Visible()); // created hidden
    prompt.HidePrompt();                             // hiding a hidden prompt does nothing
    EXPECT_FALSE(prompt.Cancelled());

    prompt.ShowPrompt("Reset the Unit");
    prompt.Dialog()->CancelBtn.Click();
    prompt.ShowPrompt("Turn the Unit off"); // still shown: text changes, cancel stays
    EXPECT_EQ(prompt.Dialog()->lblDialogText.Caption(), "Turn the Unit off");
    EXPECT_TRUE(prompt.Cancelled());

    prompt.HidePrompt();
    EXPECT_TRUE(prompt.Cancelled()); // hiding does not touch it
    prompt.ShowPrompt("Reset the Unit");
    EXPECT_FALSE(prompt.Cancelled());
}

TEST(Prompt, TheBasePromptShowsNothingAndNeverCancels)
{
    TUserPrompt base;
    base.ShowPrompt("Reset the Unit");
    EXPECT_FALSE(base.Cancelled());
    base.HidePrompt();
}

TEST(Prompt, CentredOverTheMainWindowAtEachShowing)
{
    const std::unique_ptr<TForm> main = MainWindow();
    QWidget* window = QtWindowOf(*main);
    main->Show();
    SetMainForm(main.get());
    TUserPromptDialog prompt(main.get());
    for (QPoint at : {QPoint(100, 80), QPoint(300, 200)}) {
        window->move(at);
        prompt.ShowPrompt("Reset the Unit");
        QPoint diff = QtWindowOf(prompt.Dialog()->Form())->frameGeometry().center() - window->frameGeometry().center();
        EXPECT_LE(diff.manhattanLength(), 2) << at.x();
        prompt.HidePrompt();
    }
    SetMainForm(nullptr);
}

TEST(Prompt, LongTextWidensTheWindowInsteadOfBeingCut)
{
    TUserPromptDialog prompt;
    TdlgUserPrompt& d = *prompt.Dialog();
    prompt.ShowPrompt("Reset the Unit");
    EXPECT_EQ(d.Form().ClientWidth(), 313);
    EXPECT_EQ(d.Form().ClientHeight(), 109);
    EXPECT_EQ(d.CancelBtn.Bounds(), (TRect{127, 68, 75, 25}));

    prompt.ShowPrompt(std::string(120, 'W'));
    EXPECT_LE(d.lblDialogText.Bounds().Right(), d.Form().ClientWidth());
    prompt.ShowPrompt("Line one\nLine two\nLine three\nLine four");
    EXPECT_LE(d.lblDialogText.Bounds().Bottom(), d.CancelBtn.Bounds().Top);
    EXPECT_LE(d.CancelBtn.Bounds().Bottom(), d.Form().ClientHeight());
}

TEST(Prompt, DialogGoesWithItsOwnerWindowEitherWay)
{
    std::unique_ptr<TForm> owner = MainWindow();
    auto prompt = std::make_unique<TUserPromptDialog>(owner.get());
    prompt->ShowPrompt("Reset the Unit");
    owner.reset(); // takes the dialog's window with it
    prompt->HidePrompt();
    prompt.reset();

    const std::unique_ptr<TForm> other = MainWindow();
    auto second = std::make_unique<TUserPromptDialog>(other.get());
    second.reset(); // the dialog goes first, the window stays
    EXPECT_TRUE(QtWindowOf(*other)->findChildren<QDialog*>().isEmpty());
}
