#include "app/flash_cli/worker_link.h"

namespace {

bool PhaseNamed(const std::string& name, TRunPhase& phase)
{
    for (int i = 0; i <= static_cast<int>(TRunPhase::Done); ++i)
        if (name == RunPhaseName(static_cast<TRunPhase>(i))) {
            phase = static_cast<TRunPhase>(i);
            return true;
        }
    return false;
}

void Dispatch(const TJson& m, TUnitObserver& observer, TWorkerEnd& end)
{
    TRunPhase phase;
    if (m.contains("status") && m["status"].is_string())
        observer.Status(m["status"]);
    else if (m.contains("range") && m["range"].is_number_integer())
        observer.Range(m["range"]);
    else if (m.contains("pos") && m["pos"].is_number_integer())
        observer.Position(m["pos"]);
    else if (m.contains("phase") && m["phase"].is_string() && PhaseNamed(m["phase"], phase))
        observer.Phase(phase);
    else if (m.contains("prompt") && m["prompt"].is_string())
        observer.Prompt(m["prompt"]);
    else if (m.contains("notice") && m["notice"].is_string())
        observer.Notice(m["notice"]);
    else if (m.contains("method") && m["method"].is_number_integer())
        observer.Method(m["method"]);
    else if (m.contains("unit"))
        observer.Identity(IdentityFromJson(m["unit"]));
    else if (m.contains("end") && m["end"].is_string()) {
        end.Seen = true;
        end.Result = m["end"];
        end.Error = m.contains("error") && m["error"].is_string() ? m["error"].get<std::string>() : std::string();
        end.Detail = m.contains("detail") && m["detail"].is_string() ? m["detail"].get<std::string>() : std::string();
    }
}

} // namespace

void TWorkerPipe::Range(int span)
{
    Span = span;
    Send({{"range", span}});
}

void TWorkerPipe::Position(int done)
{
    const auto now = std::chrono::steady_clock::now();
    if (done < Span && now - LastPosition < std::chrono::milliseconds(100))
        return;
    LastPosition = now;
    Send({{"pos", done}});
}

void TWorkerPipe::End(const std::string& result, const std::string& error, const std::string& detail)
{
    Send({{"end", result},
          {"error", error.empty() ? TJson(nullptr) : TJson(error)},
          {"detail", detail.empty() ? TJson(nullptr) : TJson(detail)}});
}

void TWorkerPipe::Send(const TJson& message)
{
    // One write per line: the supervisor reads whole lines, and a pipe keeps a write of
    // this size in one piece.
    const std::string line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    WriteInOne(Fd, line);
}

void DispatchWorkerLine(const std::string& line, TUnitObserver& observer, TWorkerEnd& end)
{
    const TJson m = TJson::parse(line, nullptr, false);
    if (m.is_object())
        Dispatch(m, observer, end);
}
