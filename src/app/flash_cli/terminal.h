#pragma once
// One port's progress as one line on standard error, redrawn in place, and the reset
// prompt on the terminal (Ctrl-C is its Cancel button).
#include <functional>
#include <string>

#include "app/flash_cli/progress.h"
#include "flash/userprompt.h"

class TTerminalLine {
public:
    // visible: draw the bar (standard error is a terminal and progress was not refused).
    TTerminalLine(TProgressState& state, bool visible);
    ~TTerminalLine();

    // Ends the progress line, so what follows starts on a line of its own.
    void EndLine();
    // Writes a line of its own without tearing the progress line.
    void Say(const std::string& text);

private:
    void Draw(bool force);

    TProgressState& State;
    bool Visible;
    bool LineOpen = false;
    TProgressState::Clock::time_point LastDraw{};
};

// The text of a progress line: "Programming FLASH... [####....] 2048/4096 bytes 50% 3.2 KiB/s 0:01 left".
std::string ProgressLineText(const TProgressState& state, TProgressState::Clock::time_point now);

class TTerminalPrompt : public TUserPrompt {
public:
    // show receives the prompt's text, and "" when it is hidden.
    explicit TTerminalPrompt(std::function<void(const std::string&)> show) : Show(std::move(show)) { }
    void ShowPrompt(const std::string& text) override { Show(text); }
    bool Cancelled() override;
    void HidePrompt() override { Show(std::string()); }

private:
    std::function<void(const std::string&)> Show;
};
