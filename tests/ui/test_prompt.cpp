// The operator prompt: modeless, Cancel/Esc/close all only record the cancel, shown
// centred on the main window, cancel state cleared by a fresh showing only.
#include "ui/userprompt_dialog.h"
#include "ui_test_util.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(Prompt, EveryWayToCancelKeepsTheDialogOnScreen)
{
    struct Case {
        const char* what;
        std::function<void(TdlgUserPrompt*)> act;
    };
    const Case cases[] = {
        {"Cancel button", [](TdlgUserPrompt* d) { d->CancelBtn->click(); }},
        {"Esc", [](TdlgUserPrompt* d) { QTest::keyClick(d, Qt::Key_Escape); }},
        {"close box", [](TdlgUserPrompt* d) { EXPECT_FALSE(d->close()); }},
    };
    for (const Case& c : cases) {
        TUserPromptDialog prompt;
        prompt.ShowPrompt("Reset the Unit");
        ASSERT_TRUE(prompt.Dialog()->isVisible()) << c.what;
        EXPECT_FALSE(prompt.Dialog()->isModal());
        EXPECT_FALSE(prompt.Cancelled()) << c.what;
        c.act(prompt.Dialog());
        EXPECT_TRUE(prompt.Cancelled()) << c.what;
        EXPECT_TRUE(prompt.Dialog()->isVisible()) << c.what;
        prompt.HidePrompt();
        EXPECT_FALSE(prompt.Dialog()->isVisible()) << c.what;
    }
}

TEST(Prompt, OnlyAFreshShowingClearsTheCancel)
{
    TUserPromptDialog prompt;
    EXPECT_EQ(prompt.Dialog()->windowTitle(), "User Intervention Required...");
    EXPECT_FALSE(prompt.Dialog()->isVisible()); // created hidden
    prompt.HidePrompt();                        // hiding a hidden prompt does nothing
    EXPECT_FALSE(prompt.Cancelled());

    prompt.ShowPrompt("Reset the Unit");
    prompt.Dialog()->CancelBtn->click();
    prompt.ShowPrompt("Turn the Unit off"); // still shown: text changes, cancel stays
    EXPECT_EQ(prompt.Dialog()->lblDialogText->text(), "Turn the Unit off");
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
    QWidget main;
    main.setGeometry(100, 80, 500, 400);
    main.show();
    SetMainForm(&main);
    TUserPromptDialog prompt(&main);
    for (QPoint at : {QPoint(100, 80), QPoint(300, 200)}) {
        main.move(at);
        prompt.ShowPrompt("Reset the Unit");
        QPoint diff = prompt.Dialog()->frameGeometry().center() - main.frameGeometry().center();
        EXPECT_LE(diff.manhattanLength(), 2) << at.x();
        prompt.HidePrompt();
    }
    SetMainForm(nullptr);
}

TEST(Prompt, LongTextWidensTheWindowInsteadOfBeingCut)
{
    TUserPromptDialog prompt;
    prompt.ShowPrompt("Reset the Unit");
    EXPECT_EQ(prompt.Dialog()->size(), QSize(313, 109));
    EXPECT_EQ(prompt.Dialog()->CancelBtn->geometry(), QRect(127, 68, 75, 25));

    prompt.ShowPrompt(std::string(120, 'W'));
    QRect text = prompt.Dialog()->lblDialogText->geometry();
    EXPECT_LT(text.right(), prompt.Dialog()->width());
    prompt.ShowPrompt("Line one\nLine two\nLine three\nLine four");
    text = prompt.Dialog()->lblDialogText->geometry();
    EXPECT_LT(text.bottom(), prompt.Dialog()->CancelBtn->y());
    EXPECT_LT(prompt.Dialog()->CancelBtn->geometry().bottom(), prompt.Dialog()->height());
}

TEST(Prompt, DialogGoesWithItsOwnerWindowEitherWay)
{
    auto* owner = new QWidget;
    auto* prompt = new TUserPromptDialog(owner);
    prompt->ShowPrompt("Reset the Unit");
    delete owner; // takes the prompt and its dialog with it

    QWidget other;
    auto* second = new TUserPromptDialog(&other);
    delete second; // the dialog goes first, the window stays
    EXPECT_TRUE(other.findChildren<TdlgUserPrompt*>().isEmpty());
}
