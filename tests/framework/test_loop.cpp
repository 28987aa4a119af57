// The layer under the core, whichever backend the build chose: components freeing what
// they own, timers firing on the main thread, and the waits that service them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/component.h"
#include "framework/message_loop.h"
#include "framework/syncqueue.h"
#include "framework/timers.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records its own end in a shared log.
struct TNamed : TComponent {
    TNamed(TComponent* owner, std::string name, std::vector<std::string>& log)
        : TComponent(owner), Name(std::move(name)), Log(log)
    {
    }
    ~TNamed() override { Log.push_back(Name); }
    std::string Name;
    std::vector<std::string>& Log;
};

// Processes messages until pred holds or ms pass; returns pred(). A tick of its own ends
// each wait, which would otherwise last until the next message.
bool PumpUntil(const std::function<bool()>& pred, int ms = 3000)
{
    TTimer tick;
    tick.SetInterval(5);
    tick.Start();
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred() && Clock::now() < end)
        WaitAndProcessMessages();
    return pred();
}

void Pump(int ms)
{
    PumpUntil([] { return false; }, ms);
}

} // namespace

TEST(Component, OwnerFreesWhatItOwnsInCreationOrder)
{
    std::vector<std::string> log;
    auto* owner = new TNamed(nullptr, "owner", log);
    new TNamed(owner, "a", log);
    auto* b = new TNamed(owner, "b", log);
    new TNamed(b, "b.1", log);
    auto* c = new TNamed(owner, "c", log);
    new TNamed(owner, "d", log);
    delete c; // freed first: leaves the owner's list
    EXPECT_EQ(owner->Components().size(), 3u);

    int heard = 0;
    const int id = owner->AddFreeNotification([&] { ++heard; });
    owner->AddFreeNotification([&] { log.push_back("heard"); });
    owner->RemoveFreeNotification(id);
    delete owner;
    EXPECT_EQ(log, (std::vector<std::string>{"c", "owner", "heard", "a", "b", "b.1", "d"}));
    EXPECT_EQ(heard, 0);
}

TEST(Component, AnOwnedComponentMayFreeASiblingOnItsWayOut)
{
    std::vector<std::string> log;
    {
        TNamed owner(nullptr, "owner", log);
        auto* first = new TNamed(&owner, "first", log);
        auto* second = new TNamed(&owner, "second", log);
        first->AddFreeNotification([second] { delete second; });
    }
    EXPECT_EQ(log, (std::vector<std::string>{"owner", "first", "second"}));
}

TEST(Loop, TheMainThreadIsTheApplicationsOnly)
{
    EXPECT_TRUE(IsMainThread());
    bool elsewhere = true;
    std::thread([&] { elsewhere = IsMainThread(); }).join();
    EXPECT_FALSE(elsewhere);
}

TEST(Timer, FiresAsConfiguredWhileMessagesAreProcessed)
{
    struct Case {
        const char* Name;
        bool SingleShot;
        std::function<void(TTimer&, int fired)> InHandler;
        int Expected; // firings within the pump
        bool Exactly; // a periodic timer goes on firing
    };
    const Case cases[] = {
        {"periodic", false, nullptr, 4, false},
        {"single shot", true, nullptr, 1, true},
        {"stopped by its handler", false,
         [](TTimer& t, int n) {
             if (n == 2)
                 t.Stop();
         },
         2, true},
        {"restarted by its handler", true,
         [](TTimer& t, int n) {
             if (n < 3)
                 t.Start();
         },
         3, true},
        {"throwing handler", false, [](TTimer&, int) { throw std::runtime_error("tick failed"); }, 4, false},
    };
    for (const Case& c : cases) {
        TTimer timer;
        int fired = 0;
        timer.SetSingleShot(c.SingleShot);
        timer.SetInterval(50);
        timer.OnTimer = [&] {
            ++fired;
            if (c.InHandler)
                c.InHandler(timer, fired);
        };
        timer.Start();
        EXPECT_TRUE(timer.Enabled()) << c.Name;
        testing::internal::CaptureStderr();
        PumpUntil([&] { return fired >= c.Expected; });
        Pump(120); // and nothing more fires when it should not
        const std::string warnings = testing::internal::GetCapturedStderr();
        EXPECT_EQ(warnings.find("tick failed") != std::string::npos, std::string(c.Name) == "throwing handler")
            << c.Name << ": " << warnings;
        timer.Stop();
        if (c.Exactly)
            EXPECT_EQ(fired, c.Expected) << c.Name;
        else
            EXPECT_GE(fired, c.Expected) << c.Name;
    }
}

TEST(Timer, NothingFiresWithoutMessageProcessing)
{
    TTimer timer;
    int fired = 0;
    timer.SetInterval(10);
    timer.OnTimer = [&] { ++fired; };
    timer.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(fired, 0);
    ProcessMessages(); // due: fires once, without waiting
    EXPECT_EQ(fired, 1);
}

TEST(Timer, AHandlerWaitingForMessagesIsNotReenteredByItsOwnTimer)
{
    TTimer timer, other;
    int depth = 0, deepest = 0, fired = 0, otherFired = 0;
    timer.SetInterval(20);
    timer.OnTimer = [&] {
        ++fired;
        deepest = std::max(deepest, ++depth);
        if (fired == 1)
            Pump(150); // the other timer still fires meanwhile
        --depth;
    };
    other.SetInterval(20);
    other.OnTimer = [&] { ++otherFired; };
    timer.Start();
    other.Start();
    PumpUntil([&] { return fired >= 3; });
    EXPECT_EQ(deepest, 1);
    EXPECT_GE(otherFired, 3);
}

TEST(Timer, FreedByItsOwnHandlerOrANeighbours)
{
    auto* self = new TTimer;
    auto* victim = new TTimer;
    bool selfFired = false;
    int victimFired = 0;
    self->SetInterval(10);
    self->OnTimer = [&] {
        selfFired = true;
        delete victim; // due at the same time: must not fire after this
        victim = nullptr;
        delete self;
        self = nullptr;
    };
    victim->SetInterval(10);
    victim->OnTimer = [&] { ++victimFired; };
    self->Start();
    victim->Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PumpUntil([&] { return selfFired; });
    Pump(50);
    EXPECT_TRUE(selfFired);
    EXPECT_LE(victimFired, 1); // it may have come first
    EXPECT_EQ(self, nullptr);
}

TEST(Timer, AnOwnerFreesItsTimer)
{
    int fired = 0;
    {
        TComponent owner;
        auto* timer = new TTimer(&owner);
        timer->SetInterval(10);
        timer->OnTimer = [&] { ++fired; };
        timer->Start();
    }
    Pump(50);
    EXPECT_EQ(fired, 0);
}

// The wait sleeps until the nearest timer, yet a synchronisation request ends it at once.
TEST(Loop, ASynchronisationRequestWakesTheWait)
{
    TTimer far;
    far.SetInterval(20000);
    far.Start();
    std::atomic<bool> synced{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Synchronize([&] { synced = IsMainThread(); });
    });
    const auto start = Clock::now();
    while (!synced.load() && Clock::now() - start < std::chrono::seconds(10))
        WaitAndProcessMessages();
    const auto took = Clock::now() - start;
    worker.join();
    EXPECT_TRUE(synced.load());
    EXPECT_LT(took, std::chrono::seconds(5));
}
