#pragma once
// Where exceptions that leave a slot, timer or event handler end up. The event loop
// must never see a C++ exception, so every handler that can raise calls GuardedCall.
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

// Shows one error to the operator. Replaceable (the main program installs its own,
// tests install a recorder); the default is a stop-icon message box with one OK button.
extern std::function<void(const std::exception&)> ErrorDisplayHook;

// The default display: a stop-icon message box captioned with the application title,
// one OK button and the message with the full-stop rule.
void DefaultErrorDisplay(const std::exception& e);

// Routes e to ErrorDisplayHook; never throws.
void ShowException(const std::exception& e) noexcept;

// The box's text: the message with the full stop rule applied, then the failure's details
// (Exception::Details) as lines of their own after an empty line.
std::string ErrorDisplayText(const std::exception& e);

// Runs f; any exception goes to the error display instead of propagating.
template <class F> void GuardedCall(F&& f) noexcept
{
    try {
        f();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
}
