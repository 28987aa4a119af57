#include "pty_pair.h"

TResponder::TResponder(TPtyPair& pty, size_t requestSize, std::string reply, int delayMs)
    : FRequestSize(requestSize), FReply(std::move(reply)), FDelayMs(delayMs),
      FServer(pty.Line(), unitsim::LineHandlers{{}, [this](uint8_t b) { Take(b); }, {}, {}})
{
    FServer.Start();
}

std::string TResponder::Received()
{
    std::lock_guard<std::mutex> g(FLock);
    return FReceived;
}

void TResponder::Take(uint8_t byte)
{
    {
        std::lock_guard<std::mutex> g(FLock);
        FReceived += char(byte);
    }
    if (FRequestSize == 0 || ++FPending < FRequestSize)
        return;
    FPending = 0;
    FServer.Wait(FDelayMs);
    FServer.Send(FReply);
}
