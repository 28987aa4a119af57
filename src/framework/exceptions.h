#pragma once
// The exception family: every failure carries a fixed English message.
#include <exception>
#include <string>
#include <vector>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) { }
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& message() const noexcept { return Message; }
    void setMessage(std::string m) { Message = std::move(m); }
    // Class name as shown by last-resort handlers.
    virtual const char* className() const noexcept { return "Exception"; }

    // Lines that tell a person what to do about the failure (who holds a port, how to make a
    // job). Shown beside the message, never in it: scripts read the message alone.
    const std::vector<std::string>& Details() const noexcept { return DetailLines; }
    void SetDetails(std::vector<std::string> lines) { DetailLines = std::move(lines); }
    void AddDetails(const std::vector<std::string>& lines)
    {
        DetailLines.insert(DetailLines.end(), lines.begin(), lines.end());
    }

private:
    std::string Message;
    std::vector<std::string> DetailLines;
};

#define MORAVENT_EXCEPTION(Name, Base)                                                                                 \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        using Base::Base;                                                                                              \
        const char* className() const noexcept override { return #Name; }                                              \
    }

MORAVENT_EXCEPTION(EStoredDataError, Exception);
MORAVENT_EXCEPTION(EConvertError, Exception);
MORAVENT_EXCEPTION(EStreamError, Exception);
MORAVENT_EXCEPTION(EReadError, EStreamError);
MORAVENT_EXCEPTION(EWriteError, EStreamError);
MORAVENT_EXCEPTION(EInvalidGraphic, Exception);
MORAVENT_EXCEPTION(EConvertAssign, Exception);

// Appends a full stop when the message is not empty and its last character
// sorts after '.', as the error display does.
std::string WithFullStop(const std::string& message);
