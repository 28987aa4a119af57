#include "app/flash_cli/port_slot.h"

TPortSlot::TPortSlot(const std::string& port, TJson usb, const TJobFacts& job, TStationOutput& out)
    : FRecord(port, std::move(usb), job), Out(out)
{
    FView.Port = port;
    FView.Record = &FRecord;
}

void TPortSlot::Read(int fd)
{
    const bool messages = fd == Child.MessageFd;
    std::string& buffer = messages ? MessageBuffer : ErrorBuffer;
    const bool open = ReadAvailable(fd, buffer);
    Lines(buffer, !open, messages);
    if (!open)
        CloseFd(messages ? Child.MessageFd : Child.ErrorFd);
}

// Messages drive the run's view; anything the worker wrote on standard error is a notice.
void TPortSlot::Lines(std::string& buffer, bool all, bool messages)
{
    size_t start = 0;
    for (size_t nl; (nl = buffer.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = buffer.substr(start, nl - start);
        if (messages)
            DispatchWorkerLine(line, *this, WorkerEnd);
        else if (!line.empty())
            Notice(line);
    }
    buffer.erase(0, start);
    if (all && !buffer.empty()) {
        buffer += '\n';
        Lines(buffer, false, messages);
    }
}

void TPortSlot::End(const std::string& result, const std::string& error, const std::string& detail,
                    const TKeep& keep)
{
    FRecord.End(result, error, detail);
    if (keep)
        if (const std::string lost = keep(FRecord); !lost.empty())
            FRecord.End(ResultFailed, lost, detail);
    FView.Prompt.clear();
    Out.Ended(FView);
}

void TPortSlot::Status(const std::string& text)
{
    FView.Status = text;
    Out.StatusChanged(FView);
}

void TPortSlot::Range(int span)
{
    FView.Span = span;
    FView.Done = 0;
    FView.RangeStart = TPortView::Clock::now();
    Out.ProgressChanged(FView);
}

void TPortSlot::Position(int done)
{
    FView.Done = done;
    Out.ProgressChanged(FView);
}

void TPortSlot::Phase(TRunPhase phase)
{
    FView.Phase = phase;
    FRecord.Phase(phase);
    Out.PhaseChanged(FView);
}

void TPortSlot::Prompt(const std::string& text)
{
    FView.Prompt = text;
    if (!text.empty())
        Out.Notice(FView, text);
    Out.StatusChanged(FView);
}
