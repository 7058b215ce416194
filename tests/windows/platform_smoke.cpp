// The Windows platform layer against the real system calls: events and waits, threads,
// the lock, the host window with a subclass and posted messages, the names, the clock,
// the text functions and random bytes. The sockets run under library_e2e.cpp.

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "check.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/names.h"
#include "platform/random.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace {

using namespace platform;

void TestEvents() {
    for (bool manual : {false, true}) {  // an auto-reset event is consumed by a wait
        EventHandle event = NewEvent(manual, false);
        CHECK(event != nullptr && WaitForEvent(event, 0) == kWaitTimeout);
        CHECK(SignalEvent(event) && ClearEvent(event) && WaitForEvent(event, 0) == kWaitTimeout);
        CHECK(SignalEvent(event) && WaitForEvent(event, 0) == 0);
        CHECK(WaitForEvent(event, 0) == (manual ? 0 : kWaitTimeout));
        CloseEvent(event);
    }

    EventHandle events[kMaxWaitHandles];
    for (int i = 0; i < kMaxWaitHandles; ++i) {
        events[i] = NewEvent(i == 2, false);  // slot 2 manual-reset, the others auto-reset
    }
    // The lowest set slot comes first; an auto-reset slot is consumed, the others stay.
    SignalEvent(events[3]);
    SignalEvent(events[1]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 1 && WaitForAnyEvent(events, 4, 0) == 3);
    CHECK(WaitForAnyEvent(events, 4, 0) == kWaitTimeout);
    // A manual-reset slot stays reported until it is cleared, and hides higher slots.
    SignalEvent(events[2]);
    SignalEvent(events[3]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 2 && WaitForAnyEvent(events, 4, 0) == 2);
    ClearEvent(events[2]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 3);
    // All 64 slots; a slot beyond count is not looked at.
    SignalEvent(events[kMaxWaitHandles - 1]);
    CHECK(WaitForAnyEvent(events, kMaxWaitHandles, 0) == kMaxWaitHandles - 1);
    SignalEvent(events[10]);
    CHECK(WaitForAnyEvent(events, 10, 0) == kWaitTimeout && WaitForAnyEvent(events, 11, 0) == 10);
    const uint32_t start = TickCount();
    CHECK(WaitForAnyEvent(events, 4, 60) == kWaitTimeout && TickCount() - start >= 40);
    for (EventHandle event : events) {
        CloseEvent(event);
    }
}

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
    // Exit codes pass through unchanged, STILL_ACTIVE's value 259 included. The last
    // round never releases its thread: ForceEndThread ends it with exit code 0.
    for (uint32_t exitCode : {7u, 259u, 0u}) {
        Gate gate{NewEvent(true, false), NewEvent(true, false), exitCode, 0};
        uint32_t threadId = 0, code = 12345;
        ThreadHandle thread = StartThread(&GatedThread, &gate, &threadId);
        CHECK(WaitForEvent(gate.started, 5000) == 0);
        CHECK(threadId != 0 && threadId == gate.seenThreadId && threadId != CurrentThreadId());
        CHECK(!GetThreadExitCode(thread, &code) && code == 12345);
        const uint32_t start = TickCount();
        CHECK(WaitForThread(thread, 50) == kWaitTimeout && TickCount() - start >= 30);
        if (exitCode != 0) {
            SignalEvent(gate.release);
        } else {
            ForceEndThread(thread);
        }
        CHECK(WaitForThread(thread, 5000) == 0 && GetThreadExitCode(thread, &code) &&
              code == exitCode);
        CloseThread(thread);
        CloseEvent(gate.started);
        CloseEvent(gate.release);
    }
    // An exception leaving the procedure ends the thread with exit code 1.
    ThreadHandle thrower = StartThread(&ThrowingThread, nullptr, nullptr);
    uint32_t code = 0;
    CHECK(WaitForThread(thrower, 5000) == 0 && GetThreadExitCode(thrower, &code) && code == 1);
    CloseThread(thrower);
}

struct Counter {
    Lock lock;
    EventHandle go;
    long value = 0;
};

uint32_t CountingThread(void* argument) {
    auto* counter = static_cast<Counter*>(argument);
    WaitForEvent(counter->go, kInfinite);
    for (int i = 0; i < 200000; ++i) {
        LockGuard guard(counter->lock);
        // A read, a yield point and a write: without mutual exclusion, increments of
        // the other threads are lost.
        const long seen = counter->value;
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
    }
    SignalEvent(counter.go);
    for (ThreadHandle thread : threads) {
        CHECK(WaitForThread(thread, 30000) == 0);
        CloseThread(thread);
    }
    CHECK(counter.value == 4L * 200000);
    CloseEvent(counter.go);
}

constexpr uint32_t kForSubclass = kWmUser + 1;
constexpr uint32_t kForOwner = kWmUser + 2;

struct WindowLog {
    int ownerCalls = 0, subclassCalls = 0;
    uintptr_t ownerWParam = 0, subclassWParam = 0;
    uint32_t subclassThread = 0;
    WindowProc previous = nullptr;
} windowLog;

intptr_t VARNEL_STDCALL OwnerProc(WindowHandle window, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam) {
    if (message == kForOwner || message == kForSubclass) {
        ++windowLog.ownerCalls;
        windowLog.ownerWParam = wParam;
        return 0x0517;
    }
    // Everything else (creation, destruction, system messages) goes to the default.
    return CallWindowProcedure(nullptr, window, message, wParam, lParam);
}

intptr_t VARNEL_STDCALL SubclassProc(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam) {
    if (message == kForSubclass) {
        ++windowLog.subclassCalls;
        windowLog.subclassWParam = wParam;
        windowLog.subclassThread = CurrentThreadId();
        return 0x1234;
    }
    return CallWindowProcedure(windowLog.previous, window, message, wParam, lParam);
}

uint32_t PostingThread(void* window) {
    SleepMs(30);  // lets the main thread settle into its wait first
    return PostWindowMessage(window, kForSubclass, 41, 0) &&
           PostWindowMessage(window, kForOwner, 42, 0);
}

void TestWindow() {
    WindowHandle window = CreateHostWindow(&OwnerProc);
    CHECK(window != nullptr);
    if (window == nullptr) {
        return;
    }
    // Subclassing hands back the window's own procedure, which a call through it
    // reaches with its result.
    windowLog.previous = ReplaceWindowProc(window, &SubclassProc);
    CHECK(windowLog.previous == &OwnerProc);
    CHECK(CallWindowProcedure(windowLog.previous, window, kForOwner, 5, 0) == 0x0517);
    CHECK(windowLog.ownerCalls == 1 && windowLog.ownerWParam == 5);

    // Posted from another thread: the subclass takes one, the other passes through to
    // the owner, both on this thread; the first is dispatched by the pump that waits.
    ThreadHandle thread = StartThread(&PostingThread, window, nullptr);
    CHECK(PumpMessages(window, 5000) >= 1);
    const uint32_t start = TickCount();
    while ((windowLog.subclassCalls < 1 || windowLog.ownerCalls < 2) &&
           TickCount() - start < 5000) {
        PumpMessages(window, 5000);
    }
    uint32_t posted = 0;
    CHECK(WaitForThread(thread, 5000) == 0 && GetThreadExitCode(thread, &posted) && posted);
    CloseThread(thread);
    CHECK(windowLog.subclassCalls == 1 && windowLog.subclassWParam == 41 &&
          windowLog.subclassThread == CurrentThreadId());
    CHECK(windowLog.ownerCalls == 2 && windowLog.ownerWParam == 42);

    // With the owner back, a message for the subclass reaches the owner.
    CHECK(ReplaceWindowProc(window, windowLog.previous) == &SubclassProc);
    CHECK(PostWindowMessage(window, kForSubclass, 43, 0) && PumpMessages(window, 0) == 1);
    CHECK(windowLog.subclassCalls == 1 && windowLog.ownerCalls == 3 && windowLog.ownerWParam == 43);

    DestroyHostWindow(window);
    CHECK(!PostWindowMessage(window, kForOwner, 0, 0));
}

void TestName(bool (*get)(char*, uint32_t*)) {
    char name[256], exact[256];
    uint32_t size = sizeof name;
    CHECK(get(name, &size));
    const uint32_t length = static_cast<uint32_t>(std::strlen(name));
    CHECK(size == length && length > 0);
    // Exactly the length and its zero fits; one byte less does not.
    uint32_t exactSize = length + 1, shortSize = length, zeroSize = 0;
    std::memset(exact, 'x', sizeof exact);
    CHECK(get(exact, &exactSize) && exactSize == length && std::strcmp(exact, name) == 0);
    CHECK(!get(exact, &shortSize) && !get(exact, &zeroSize) && !get(nullptr, &size) &&
          !get(exact, nullptr));
}

void TestNamesClockAndText() {
    TestName(&GetComputerNameText);
    TestName(&GetUserNameText);
    const uint32_t start = TickCount();
    SleepMs(50);
    // The tick moves in steps of about 16 ms; under Wine a 50 ms sleep measured as
    // little as 34 ms.
    CHECK(TickCount() - start >= 30 && TickCount() - start < 2000);

    char text[] = "SERVER=Db1;Port=3050";
    LowerCaseInPlace(text);
    CHECK(std::strcmp(text, "server=db1;port=3050") == 0);
    CHECK(FindText("f(<Msg>) <Msg>", "<Msg>") == 2 && FindText("f(<msg>)", "<Msg>") == -1);
    CHECK(CompareTextLocale("ORDERS", "ORDERS") == 0 && CompareTextLocale("ORDERS", "orders") != 0);
}

// RtlGenRandom is called in pieces of 64 KiB: a long draw reaches its last bytes.
void TestRandom() {
    static uint8_t first[100000];
    static uint8_t second[100000];
    static const uint8_t zeros[32] = {};
    CHECK(FillRandom(first, sizeof first) && FillRandom(second, sizeof second) &&
          FillRandom(nullptr, 0));
    CHECK(std::memcmp(first, second, sizeof first) != 0 &&
          std::memcmp(first + sizeof first - 32, zeros, 32) != 0);
}

}  // namespace

int main() {
    const uint32_t start = TickCount();
    TestEvents();
    TestThreads();
    TestLock();
    TestWindow();
    TestNamesClockAndText();
    TestRandom();
    std::printf("platform smoke test: %u ms\n", TickCount() - start);
    return wincheck::Summary();
}
