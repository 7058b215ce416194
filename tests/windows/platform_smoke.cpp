// Exercises the Windows platform layer against the real system calls: events and
// waits, threads, the lock, the host window with a subclass and posted messages,
// the machine and user names, and random bytes. Prints every failed check and a final count; the
// exit code is 0 only when every check passed.

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "check.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/names.h"
#include "platform/random.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace {

using namespace platform;

// ---- events ----------------------------------------------------------------------

void TestSingleEvents() {
    struct Case {
        bool manualReset;
        bool initiallySet;
        int firstWait;   // result of a polling wait
        int secondWait;  // result of the next polling wait
    };
    const Case cases[] = {
        {false, false, kWaitTimeout, kWaitTimeout},
        {false, true, 0, kWaitTimeout},  // consumed by the first wait
        {true, false, kWaitTimeout, kWaitTimeout},
        {true, true, 0, 0},  // stays set
    };
    for (const Case& c : cases) {
        EventHandle event = NewEvent(c.manualReset, c.initiallySet);
        CHECK(event != nullptr);
        CHECK(WaitForEvent(event, 0) == c.firstWait);
        CHECK(WaitForEvent(event, 0) == c.secondWait);
        CHECK(SignalEvent(event));
        CHECK(WaitForEvent(event, 0) == 0);
        CHECK(WaitForEvent(event, 0) == (c.manualReset ? 0 : kWaitTimeout));
        CHECK(SignalEvent(event));
        CHECK(ClearEvent(event));
        CHECK(WaitForEvent(event, 0) == kWaitTimeout);
        CloseEvent(event);
    }
    CloseEvent(nullptr);
    CHECK(!SignalEvent(nullptr));
    CHECK(!ClearEvent(nullptr));
    CHECK(WaitForEvent(nullptr, 0) == kWaitFailed);
}

void TestWaitForAny() {
    EventHandle events[kMaxWaitHandles];
    for (int i = 0; i < kMaxWaitHandles; ++i) {
        // Slot 2 is manual-reset, every other slot auto-reset.
        events[i] = NewEvent(i == 2, false);
        CHECK(events[i] != nullptr);
    }
    // Nothing set: a time-out of 0 polls and comes back at once.
    uint32_t start = TickCount();
    CHECK(WaitForAnyEvent(events, 4, 0) == kWaitTimeout);
    CHECK(TickCount() - start < 100);

    // The lowest set slot is reported first; an auto-reset slot is consumed, the others
    // are left set.
    SignalEvent(events[3]);
    SignalEvent(events[1]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 1);
    CHECK(WaitForAnyEvent(events, 4, 0) == 3);
    CHECK(WaitForAnyEvent(events, 4, 0) == kWaitTimeout);

    // A manual-reset slot stays reported until it is cleared, and it hides higher slots.
    SignalEvent(events[2]);
    SignalEvent(events[3]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 2);
    CHECK(WaitForAnyEvent(events, 4, 0) == 2);
    ClearEvent(events[2]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 3);

    // All 64 slots; only the last set.
    SignalEvent(events[kMaxWaitHandles - 1]);
    CHECK(WaitForAnyEvent(events, kMaxWaitHandles, 0) == kMaxWaitHandles - 1);
    // A slot beyond count is not looked at.
    SignalEvent(events[10]);
    CHECK(WaitForAnyEvent(events, 10, 0) == kWaitTimeout);
    CHECK(WaitForAnyEvent(events, 11, 0) == 10);

    // Bad arguments fail rather than wait.
    CHECK(WaitForAnyEvent(events, 0, 0) == kWaitFailed);
    CHECK(WaitForAnyEvent(events, kMaxWaitHandles + 1, 0) == kWaitFailed);
    CHECK(WaitForAnyEvent(nullptr, 1, 0) == kWaitFailed);
    EventHandle withNull[2] = {events[0], nullptr};
    CHECK(WaitForAnyEvent(withNull, 2, 0) == kWaitFailed);

    // A finite time-out that expires.
    start = TickCount();
    CHECK(WaitForAnyEvent(events, 4, 60) == kWaitTimeout);
    uint32_t waited = TickCount() - start;
    CHECK(waited >= 40 && waited < 2000);

    for (EventHandle event : events) {
        CloseEvent(event);
    }
}

// ---- threads ---------------------------------------------------------------------

struct Gate {
    EventHandle started;
    EventHandle release;
    uint32_t exitCode;
    uint32_t seenThreadId;
};

uint32_t GatedThread(void* argument) {
    auto* gate = static_cast<Gate*>(argument);
    gate->seenThreadId = CurrentThreadId();
    SignalEvent(gate->started);
    WaitForEvent(gate->release, kInfinite);
    return gate->exitCode;
}

uint32_t ThrowingThread(void*) {
    throw std::runtime_error("escapes the thread procedure");
}

void TestThreads() {
    // Exit codes, including STILL_ACTIVE's value 259, pass through unchanged.
    const uint32_t exitCodes[] = {0, 7, 259, 0xFFFFFFFEu};
    for (uint32_t exitCode : exitCodes) {
        Gate gate{NewEvent(true, false), NewEvent(true, false), exitCode, 0};
        uint32_t threadId = 0;
        ThreadHandle thread = StartThread(&GatedThread, &gate, &threadId);
        CHECK(thread != nullptr);
        CHECK(WaitForEvent(gate.started, 5000) == 0);
        CHECK(threadId != 0 && threadId == gate.seenThreadId);
        CHECK(threadId != CurrentThreadId());

        uint32_t code = 12345;
        CHECK(!GetThreadExitCode(thread, &code));
        CHECK(code == 12345);
        uint32_t start = TickCount();
        CHECK(WaitForThread(thread, 50) == kWaitTimeout);
        CHECK(TickCount() - start >= 30);

        SignalEvent(gate.release);
        CHECK(WaitForThread(thread, 5000) == 0);
        CHECK(GetThreadExitCode(thread, &code));
        CHECK(code == exitCode);
        CloseThread(thread);
        CloseEvent(gate.started);
        CloseEvent(gate.release);
    }

    // An exception leaving the procedure ends the thread with exit code 1.
    ThreadHandle thrower = StartThread(&ThrowingThread, nullptr, nullptr);
    CHECK(thrower != nullptr);
    CHECK(WaitForThread(thrower, 5000) == 0);
    uint32_t code = 0;
    CHECK(GetThreadExitCode(thrower, &code) && code == 1);
    CloseThread(thrower);

    // A thread that never stops by itself is ended with exit code 0.
    Gate stuck{NewEvent(true, false), NewEvent(true, false), 5, 0};
    ThreadHandle blocked = StartThread(&GatedThread, &stuck, nullptr);
    CHECK(WaitForEvent(stuck.started, 5000) == 0);
    ForceEndThread(blocked);
    CHECK(WaitForThread(blocked, 5000) == 0);
    code = 99;
    CHECK(GetThreadExitCode(blocked, &code) && code == 0);
    CloseThread(blocked);
    CloseEvent(stuck.started);
    CloseEvent(stuck.release);

    CHECK(StartThread(nullptr, nullptr, nullptr) == nullptr);
    CHECK(WaitForThread(nullptr, 0) == kWaitFailed);
    CHECK(!GetThreadExitCode(nullptr, &code));
}

// ---- lock ------------------------------------------------------------------------

struct Counter {
    Lock lock;
    EventHandle go;
    long value = 0;
};

constexpr int kIncrements = 200000;

uint32_t CountingThread(void* argument) {
    auto* counter = static_cast<Counter*>(argument);
    WaitForEvent(counter->go, kInfinite);
    for (int i = 0; i < kIncrements; ++i) {
        LockGuard guard(counter->lock);
        // A read, a yield point and a write: without mutual exclusion, increments of
        // the other threads are lost.
        long seen = counter->value;
        if (i % 1024 == 0) {
            SleepMs(0);
        }
        counter->value = seen + 1;
    }
    return 0;
}

void TestLock() {
    Counter counter;
    counter.go = NewEvent(true, false);
    ThreadHandle threads[4];
    for (ThreadHandle& thread : threads) {
        thread = StartThread(&CountingThread, &counter, nullptr);
        CHECK(thread != nullptr);
    }
    SignalEvent(counter.go);
    for (ThreadHandle thread : threads) {
        CHECK(WaitForThread(thread, 30000) == 0);
        CloseThread(thread);
    }
    CHECK(counter.value == 4L * kIncrements);
    CloseEvent(counter.go);
}

// ---- window ----------------------------------------------------------------------

constexpr uint32_t kMessageForSubclass = kWmUser + 1;
constexpr uint32_t kMessageForOwner = kWmUser + 2;
constexpr uint32_t kMessageRepost = kWmUser + 3;

struct WindowLog {
    std::atomic<int> ownerCalls{0};
    std::atomic<int> subclassCalls{0};
    uintptr_t lastOwnerWParam = 0;
    uintptr_t lastSubclassWParam = 0;
    uint32_t subclassThread = 0;
    WindowProc previous = nullptr;
} windowLog;

intptr_t VARNEL_STDCALL OwnerProc(WindowHandle window, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam) {
    if (message == kMessageForOwner || message == kMessageForSubclass) {
        ++windowLog.ownerCalls;
        windowLog.lastOwnerWParam = wParam;
        return 0x0517;
    }
    // Everything else (creation, destruction, system messages) goes to the default.
    return CallWindowProcedure(nullptr, window, message, wParam, lParam);
}

intptr_t VARNEL_STDCALL SubclassProc(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam) {
    if (message == kMessageForSubclass) {
        ++windowLog.subclassCalls;
        windowLog.lastSubclassWParam = wParam;
        windowLog.subclassThread = CurrentThreadId();
        return 0x1234;
    }
    if (message == kMessageRepost) {
        // Posts itself again at once: one pump call must still come to an end.
        ++windowLog.subclassCalls;
        PostWindowMessage(window, kMessageRepost, wParam + 1, lParam);
        return 0;
    }
    return CallWindowProcedure(windowLog.previous, window, message, wParam, lParam);
}

struct Poster {
    WindowHandle window;
    EventHandle start;
    bool posted;
};

uint32_t PostingThread(void* argument) {
    auto* poster = static_cast<Poster*>(argument);
    WaitForEvent(poster->start, kInfinite);
    SleepMs(30);  // lets the main thread settle into its wait first
    poster->posted = PostWindowMessage(poster->window, kMessageForSubclass, 41, 0) &&
                     PostWindowMessage(poster->window, kMessageForOwner, 42, 0);
    return 0;
}

void TestWindow() {
    WindowHandle window = CreateHostWindow(&OwnerProc);
    CHECK(window != nullptr);
    if (window == nullptr) {
        return;
    }
    // Nothing queued: a pump with no time-out returns at once, one with a time-out
    // returns when it has run out.
    CHECK(PumpMessages(window, 0) == 0);
    uint32_t start = TickCount();
    CHECK(PumpMessages(window, 80) == 0);
    uint32_t waited = TickCount() - start;
    CHECK(waited >= 60 && waited < 2000);

    // Subclassing hands back the window's own procedure.
    windowLog.previous = ReplaceWindowProc(window, &SubclassProc);
    CHECK(windowLog.previous == &OwnerProc);
    CHECK(ReplaceWindowProc(window, nullptr) == nullptr);
    CHECK(ReplaceWindowProc(nullptr, &SubclassProc) == nullptr);

    // A direct call through the saved procedure reaches the owner with its result.
    CHECK(CallWindowProcedure(windowLog.previous, window, kMessageForOwner, 5, 0) == 0x0517);
    CHECK(windowLog.ownerCalls == 1 && windowLog.lastOwnerWParam == 5);
    CHECK(CallWindowProcedure(nullptr, window, kMessageForOwner, 5, 0) == 0);

    // Two messages posted from another thread: the subclass takes one, the other
    // passes through to the owner, both on this thread.
    Poster poster{window, NewEvent(true, false), false};
    ThreadHandle thread = StartThread(&PostingThread, &poster, nullptr);
    CHECK(thread != nullptr);
    SignalEvent(poster.start);
    int dispatched = 0;
    start = TickCount();
    while ((windowLog.subclassCalls < 1 || windowLog.ownerCalls < 2) &&
           TickCount() - start < 5000) {
        dispatched += PumpMessages(window, 5000);
    }
    CHECK(WaitForThread(thread, 5000) == 0);
    CHECK(poster.posted);
    CHECK(dispatched >= 2);
    CHECK(windowLog.subclassCalls == 1 && windowLog.lastSubclassWParam == 41);
    CHECK(windowLog.subclassThread == CurrentThreadId());
    CHECK(windowLog.ownerCalls == 2 && windowLog.lastOwnerWParam == 42);
    CloseThread(thread);
    CloseEvent(poster.start);

    // The first message of a pump that waits is dispatched by that same call.
    CHECK(PostWindowMessage(window, kMessageForSubclass, 43, 0));
    CHECK(PumpMessages(window, 1000) == 1);
    CHECK(windowLog.subclassCalls == 2 && windowLog.lastSubclassWParam == 43);

    // A procedure that posts again on every message gets one message per pump call.
    int before = windowLog.subclassCalls;
    CHECK(PostWindowMessage(window, kMessageRepost, 0, 0));
    CHECK(PumpMessages(window, 0) == 1);
    CHECK(PumpMessages(window, 0) == 1);
    CHECK(windowLog.subclassCalls == before + 2);

    // Putting the owner back returns the subclass; the pending repost now reaches the
    // owner, which ignores it.
    CHECK(ReplaceWindowProc(window, windowLog.previous) == &SubclassProc);
    CHECK(PumpMessages(window, 0) == 1);
    CHECK(windowLog.subclassCalls == before + 2);

    CHECK(!PostWindowMessage(nullptr, kMessageForOwner, 0, 0));
    DestroyHostWindow(window);
    CHECK(!PostWindowMessage(window, kMessageForOwner, 0, 0));
    DestroyHostWindow(nullptr);
}

// ---- names and clock -------------------------------------------------------------

using NameFunction = bool (*)(char*, uint32_t*);

void TestName(NameFunction get) {
    char name[256];
    uint32_t size = sizeof name;
    CHECK(get(name, &size));
    size_t length = std::strlen(name);
    CHECK(size == length && length > 0);

    // Exactly the length and its zero fits; one byte less does not.
    char exact[256];
    uint32_t exactSize = static_cast<uint32_t>(length + 1);
    std::memset(exact, 'x', sizeof exact);
    CHECK(get(exact, &exactSize));
    CHECK(exactSize == length && std::strcmp(exact, name) == 0);

    uint32_t shortSize = static_cast<uint32_t>(length);
    CHECK(!get(exact, &shortSize));
    uint32_t zeroSize = 0;
    CHECK(!get(exact, &zeroSize));
    CHECK(!get(nullptr, &size));
    CHECK(!get(exact, nullptr));
}

void TestNamesAndClock() {
    TestName(&GetComputerNameText);
    TestName(&GetUserNameText);

    uint32_t start = TickCount();
    SleepMs(50);
    uint32_t slept = TickCount() - start;
    // The tick moves in steps of about 16 ms; under Wine a 50 ms sleep measured as
    // little as 34 ms.
    CHECK(slept >= 30 && slept < 2000);
}

// RtlGenRandom is called in pieces of 64 KiB: a long draw reaches its last bytes.
void TestRandom() {
    static uint8_t first[100000];
    static uint8_t second[100000];
    CHECK(FillRandom(first, sizeof first));
    CHECK(FillRandom(second, sizeof second));
    CHECK(std::memcmp(first, second, sizeof first) != 0);
    static const uint8_t zeros[32] = {};
    CHECK(std::memcmp(first + sizeof first - 32, zeros, 32) != 0);
    CHECK(FillRandom(nullptr, 0));
}

}  // namespace

int main() {
    uint32_t start = TickCount();
    TestSingleEvents();
    TestWaitForAny();
    TestThreads();
    TestLock();
    TestWindow();
    TestNamesAndClock();
    TestRandom();
    std::printf("platform smoke test: %u ms\n", TickCount() - start);
    wincheck::Summary();
    return wincheck::failed == 0 ? 0 : 1;
}
