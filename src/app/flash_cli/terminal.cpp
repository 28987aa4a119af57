#include "app/flash_cli/terminal.h"

#include <cstdio>

#include "framework/cmdline.h"

TTerminalLine::TTerminalLine(TProgressState& state, bool visible) : State(state), Visible(visible)
{
    State.OnStatus = [this] { EndLine(); };
    State.OnChange = [this](bool force) { Draw(force); };
}

TTerminalLine::~TTerminalLine()
{
    EndLine();
    State.OnStatus = nullptr;
    State.OnChange = nullptr;
}

void TTerminalLine::EndLine()
{
    if (Visible && LineOpen) {
        std::fputs("\n", stderr);
        std::fflush(stderr);
    }
    LineOpen = false;
}

void TTerminalLine::Say(const std::string& text)
{
    EndLine();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

std::string ProgressLineText(const TProgressState& state, TProgressState::Clock::time_point now)
{
    std::string line = state.Status() + " " + ProgressBar(state.Fraction()) + " ";
    const int percent = static_cast<int>(state.Fraction() * 100.0);
    if (!state.CountsBytes())
        return line + std::to_string(percent) + "%";
    line +=
        std::to_string(state.Done()) + "/" + std::to_string(state.Span()) + " bytes " + std::to_string(percent) + "% ";
    char tail[64];
    const double rate = state.Rate(now);
    if (rate > 0) {
        const int left = state.SecondsLeft(now);
        std::snprintf(tail, sizeof tail, "%.1f KiB/s %d:%02d left", rate / 1024.0, left / 60, left % 60);
    } else {
        std::snprintf(tail, sizeof tail, "-- KiB/s");
    }
    return line + tail;
}

void TTerminalLine::Draw(bool force)
{
    if (!Visible)
        return;
    const auto now = TProgressState::Clock::now();
    if (!force && now - LastDraw < std::chrono::milliseconds(100))
        return;
    LastDraw = now;
    std::fprintf(stderr, "\r\033[K%s", ProgressLineText(State, now).c_str());
    std::fflush(stderr);
    LineOpen = true;
}

bool TTerminalPrompt::Cancelled()
{
    return StopSignalsReceived() > 0;
}
