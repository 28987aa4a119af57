#pragma once
// The record quality keeps of every unit: one JSON object per unit and run, appended as
// one line (JSON Lines) to the report file when that unit ends.
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>

#include "app/flash_cli/unit_events.h"
#include "app/flash_cli/unit_who.h"
#include "flash/job.h"

using TJson = nlohmann::ordered_json;

// The job as the report names it.
struct TJobFacts {
    std::string File; // the job executable (this program when the job is stamped into it)
    std::string Title, Identifier;
    int32_t ImageLength = 0;
    std::string ImageSha256;
    bool LogSwitch = false;
};

// The job's facts from the very bytes a run programs.
TJobFacts DescribeJob(const TJob& job);

// "2026-12-08T14:03:27.412+01:00": local time with its offset from UTC.
std::string IsoTime(std::chrono::system_clock::time_point t);

// JSON form of an identity, and back (null: the unit never told one).
TJson IdentityJson(const TUnitIdentity& unit);
TUnitIdentity IdentityFromJson(const TJson& j);

// Fills itself from what the unit's run tells and gives the report object at the end.
class TUnitRecord : public TUnitObserver {
public:
    // The record's id is made here, when the unit starts.
    TUnitRecord(std::string port, TJson usb, const TJobFacts& job);
    void SetWho(const TUnitWho& who) { FWho = who; }
    void SetMode(TRunMode mode) { FMode = mode; }
    // The fixture's name ("" for an unnamed one) and the station's round, counted from 1.
    void SetFixture(const std::string& name, int round) { FFixture = name, FRound = round; }

    void Phase(TRunPhase phase) override;
    void Method(int method) override { FMethod = method; }
    void Identity(const TUnitIdentity& unit) override { FUnit = unit; }

    // result: ResultOk, ResultFailed or ResultCancelled; error "" for none; detail: what
    // explains the error (a port that has gone, a job file given for a programmer), "" for none.
    void End(const std::string& result, const std::string& error, const std::string& detail = "");

    const std::string& Port() const { return FPort; }
    const std::string& RecordId() const { return FRecordId; }
    const std::string& Result() const { return FResult; }
    const std::string& Error() const { return FError; }
    bool Ended() const { return !FResult.empty(); }
    double Seconds() const;
    TRunPhase LastPhase() const { return FPhase; }
    std::string SuccessLine() const { return ::SuccessLine(FMode, FProgrammed, FUnit); }
    TJson Json() const;

private:
    using Steady = std::chrono::steady_clock;
    std::string FPort, FFixture;
    int FRound = 1;
    TJson FUsb;
    const TJobFacts& FJob;
    std::chrono::system_clock::time_point FStart, FEnd;
    Steady::time_point FStartSteady, FEndSteady, FProgramStart;
    TRunPhase FPhase = TRunPhase::Connect;
    int FMethod = -1;
    TRunMode FMode = TRunMode::Program;
    bool FProgrammed = false; // the program phase was entered: the unit's flash was erased
    TUnitIdentity FUnit;
    double FProgramRate = -1;
    std::string FResult, FError, FDetail;
    std::string FRecordId;
    TUnitWho FWho;
};

// The lines that explain a failure, as one text for a record's "detail".
std::string DetailText(const std::vector<std::string>& lines);

// One write(2) of all of text, repeated only when a signal came before anything was
// written; what write returned. A line written so is never torn by another writer.
ssize_t WriteInOne(int fd, const std::string& text);

// The report file, opened for appending. Every line goes out in one write(2) on the
// O_APPEND descriptor, so stations appending to one file on a share never tear a line.
class TReportFile {
public:
    // Raises EFileError naming the file (a directory, device or FIFO is refused).
    explicit TReportFile(const std::string& path);
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Appends record as one line and flushes it to the file; raises EFileError.
    void Append(const TJson& record);

private:
    std::string Path;
    int Fd = -1;
};
