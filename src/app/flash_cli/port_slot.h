#pragma once
// One port of a station round: its worker, what the worker has told, the unit's record.
#include <functional>
#include <string>

#include "app/flash_cli/report.h"
#include "app/flash_cli/station_output.h"
#include "app/flash_cli/worker_link.h"
#include "app/flash_cli/worker_process.h"

class TPortSlot : public TUnitObserver {
public:
    TPortSlot(const std::string& port, TJson usb, const TJobFacts& job, TStationOutput& out);

    TChild Child;
    TWorkerEnd WorkerEnd;
    size_t Fixture = 0; // the station's index of the fixture
    const TPortView& View() const { return FView; }
    const TUnitRecord& Record() const { return FRecord; }
    bool Ended() const { return FRecord.Ended(); }
    // The worker's pipes are both closed: it has nothing more to say.
    bool Silent() const { return Child.MessageFd < 0 && Child.ErrorFd < 0; }

    // Reads what the worker has written on one of its pipes and acts on every whole line.
    void Read(int fd);
    void SetWho(const TUnitWho& who) { FRecord.SetWho(who); }
    void SetMode(TRunMode mode) { FRecord.SetMode(mode); }
    void SetFixture(const std::string& name, int round)
    {
        FView.Fixture = name;
        FRecord.SetFixture(name, round);
    }
    // keep: puts the ended record where it is kept before the result is shown, and returns
    // "" or why it could not (the unit then failed for that reason).
    using TKeep = std::function<std::string(const TUnitRecord&)>;
    void End(const std::string& result, const std::string& error, const std::string& detail = "",
             const TKeep& keep = {});

    void Status(const std::string& text) override;
    void Range(int span) override;
    void Position(int done) override;
    void Phase(TRunPhase phase) override;
    void Prompt(const std::string& text) override;
    void Notice(const std::string& text) override { Out.Notice(FView, text); }
    void Method(int method) override { FRecord.Method(method); }
    void Identity(const TUnitIdentity& unit) override { FRecord.Identity(unit); }

private:
    void Lines(std::string& buffer, bool all, bool messages);

    TUnitRecord FRecord;
    TPortView FView;
    TStationOutput& Out;
    std::string MessageBuffer, ErrorBuffer;
};
