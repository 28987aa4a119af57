// The event thread: deliveries on the user-interface thread, closing while a
// delivery waits, stop winning over a pending device event, hooks swapped and ports
// destroyed while it runs (the cases a ThreadSanitizer build is there for).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include <unistd.h>

#include "framework/message_loop.h"
#include "framework/syncqueue.h"
#include "pty_pair.h"
#include "serial/comms.h"
#include "serial/CPort.h"
#include "serial/serial_platform.h"

namespace {

TEST(EventThread, NoThreadWithoutEventsButHooksStillFire)
{
    TPtyPair pty;
    std::string trace; // outlives the port, whose destructor fires hooks
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents(0);
    port.OnAfterOpen = [&](TCustomComPort*) { trace += "open "; };
    port.OnCTSChange = [&](TCustomComPort*, bool on) { trace += on ? "cts1 " : "cts0 "; };
    port.OnBeforeClose = [&](TCustomComPort*) { trace += "close "; };
    port.OpenPort();
    EXPECT_FALSE(port.ThreadCreated());
    port.ClosePort();
    EXPECT_EQ(trace, "open cts0 cts0 close ");
    port.SetEvents(AllComEvents);
    port.OpenPort();
    EXPECT_TRUE(port.ThreadCreated());
}

TEST(EventThread, RxCharDeliveredOnTheUiThreadAndBytesStayUnread)
{
    TPtyPair pty;
    std::atomic<int> count{0};
    bool onUiThread = false;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OnRxChar = [&](TCustomComPort*, int32_t n) {
        onUiThread = IsMainThread();
        count = n;
    };
    port.OpenPort();
    pty.Write("abc");
    EXPECT_TRUE(PumpUntil([&] { return count.load() == 3; }));
    EXPECT_TRUE(onUiThread);
    char buf[3];
    EXPECT_EQ(port.ReadBytes(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(EventThread, HookAssignedWhileOpenIsDeliveredToo)
{
    // Without hooks the thread waits for nothing; a hook assigned later is picked up.
    TPtyPair pty;
    std::atomic<int> count{0};
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.OnRxChar = [&](TCustomComPort*, int32_t n) { count = n; };
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    pty.Write("xy");
    EXPECT_TRUE(PumpUntil([&] { return count.load() == 2; }));
}

TEST(EventThread, BytesWrittenJustBeforeCloseReachTheFarEnd)
{
    // The far end reads only after the close: with or without an event thread, the
    // close must not throw away what has been written.
    for (TComEvents events : {TComEvents(0), AllComEvents}) {
        SCOPED_TRACE(events);
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.SetEvents(events);
        port.OpenPort();
        const std::string finish("\xC3\x37\x23\xC6", 4);
        EXPECT_EQ(port.WriteBytes(finish.data(), 4), 4);
        port.ClosePort();
        EXPECT_EQ(pty.Read(4, 1000), finish);
    }
}

TEST(EventThread, DeliveryOnItsOwnThreadWithSmNone)
{
    TPtyPair pty;
    std::atomic<bool> elsewhere{false};
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetSyncMethod(smNone);
    port.OnRxChar = [&](TCustomComPort*, int32_t) { elsewhere = !IsMainThread(); };
    port.OpenPort();
    pty.Write("x");
    // Nothing here services the queue: the delivery must not need the UI thread.
    for (int i = 0; i < 300 && !elsewhere; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(elsewhere);
}

TEST(EventThread, CloseRunsAPendingDeliveryAndEnds)
{
    TPtyPair pty;
    int delivered = 0;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OnRxChar = [&](TCustomComPort*, int32_t) { ++delivered; };
    port.OpenPort();
    pty.Write("abc");
    // Let the event thread queue its delivery; the UI thread does not service it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(delivered, 0);
    port.ClosePort();
    EXPECT_EQ(delivered, 1);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.ThreadCreated());
}

TEST(EventThread, HooksSwappedAndPortDestroyedWhileBytesArrive)
{
    const struct {
        const char* name;
        TSyncMethod sync;
        bool brisko;
    } cases[] = {
        {"port, synchronised", smThreadSync, false},
        {"port, on the event thread", smNone, false},
        {"reply-expecting port, synchronised", smThreadSync, true},
        {"reply-expecting port, on the event thread", smNone, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPtyPair pty;
        std::atomic<int> fired{0};
        std::unique_ptr<TComPort> port = c.brisko ? std::make_unique<TBriskoComPort>() : std::make_unique<TComPort>();
        port->SetPort(pty.SlavePath());
        port->SetSyncMethod(c.sync);
        port->OpenPort();
        std::atomic<bool> stop{false};
        std::thread farEnd([&] {
            while (!stop) {
                (void)!write(pty.Master(), "z", 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        for (int i = 0; i < 40; ++i) {
            port->OnRxChar = [&fired](TCustomComPort*, int32_t) { ++fired; };
            port->OnError = (i % 2) ? TCustomComPort::TComErrorEvent() : [](TCustomComPort*, TComErrors) {};
            PumpUntil([] { return false; }, 5);
        }
        EXPECT_TRUE(PumpUntil([&] { return fired.load() > 0; }));
        port.reset(); // while the far end keeps sending
        stop = true;
        farEnd.join();
    }
}

TEST(EventWait, StopWinsOverAPendingDeviceEvent)
{
    TPtyPair pty;
    auto device = CreateSerialDevice();
    ASSERT_EQ(device->Open(pty.SlavePath()), 0);
    TLineSettings raw;
    raw.BaudRate = 9600;
    ASSERT_EQ(device->ApplyLineSettings(raw), 0);
    auto wait = device->CreateEventWait(EventsToMask(AllComEvents));
    pty.Write("data");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    wait->Stop();
    uint32_t events = 0;
    EXPECT_FALSE(wait->Wait(events));
    device->Close();
}

TEST(EventWait, EdgeTriggeredAndHangupReportedOnce)
{
    TPtyPair pty;
    auto device = CreateSerialDevice();
    ASSERT_EQ(device->Open(pty.SlavePath()), 0);
    TLineSettings raw;
    raw.BaudRate = 9600;
    ASSERT_EQ(device->ApplyLineSettings(raw), 0);
    auto wait = device->CreateEventWait(EventsToMask(ComEvent(evRxChar) | ComEvent(evError)));
    pty.Write("a");
    uint32_t events = 0;
    ASSERT_TRUE(wait->Wait(events));
    EXPECT_EQ(events & emRxChar, emRxChar);
    // The byte is still unread: without new data a second wait must block.
    std::atomic<int> any{0};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        uint32_t ev = 0;
        while (wait->Wait(ev)) {
            ++any;
            if (ev & emErr)
                returned = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(any.load(), 0);
    pty.CloseMaster(); // the far end vanishes: reported, then no spinning
    for (int i = 0; i < 200 && !returned; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(returned.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(any.load(), 2); // a hung-up device does not keep waking the thread
    wait->Stop();
    waiter.join();
    device->Close();
}

TEST(SyncQueue, ExceptionsReturnToTheCaller)
{
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            Synchronize([] { throw EComPort(10, 5); });
        } catch (const EComPort& e) {
            caught = e.ErrorCode() == 10;
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return caught.load(); }));
    worker.join();
}

} // namespace
