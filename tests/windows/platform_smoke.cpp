// The Windows platform layer where the end-to-end programs do not reach it: the wait on
// many events, the threads' exit codes, the clock, the names, long random draws and the
// reasons of failed socket calls. The events, the window with its subclass and posted
// messages, the sockets, the lock and the text functions run under library_e2e.cpp.

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "check.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/names.h"
#include "platform/random.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace {

using namespace platform;

void TestEvents() {
    EventHandle events[kMaxWaitHandles];
    for (int i = 0; i < kMaxWaitHandles; ++i) {
        events[i] = NewEvent(i == 2, false);  // slot 2 manual-reset, the others auto-reset
    }
    // The lowest set slot comes first; an auto-reset slot is consumed, a manual-reset
    // one stays reported until it is cleared, and hides higher slots.
    SignalEvent(events[3]);
    SignalEvent(events[2]);
    SignalEvent(events[1]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 1 && WaitForAnyEvent(events, 4, 0) == 2 &&
          WaitForAnyEvent(events, 4, 0) == 2);
    ClearEvent(events[2]);
    CHECK(WaitForAnyEvent(events, 4, 0) == 3 && WaitForAnyEvent(events, 4, 0) == kWaitTimeout);
    // All 64 slots; a slot beyond count is not looked at. The tick counts milliseconds.
    SignalEvent(events[kMaxWaitHandles - 1]);
    const uint32_t start = TickCount();
    CHECK(WaitForAnyEvent(events, kMaxWaitHandles - 1, 60) == kWaitTimeout &&
          TickCount() - start >= 40 && TickCount() - start < 2000);
    CHECK(WaitForAnyEvent(events, kMaxWaitHandles, 0) == kMaxWaitHandles - 1);
    for (EventHandle event : events) {
        CloseEvent(event);
    }
}

struct Gate {
    EventHandle release;
    uint32_t exitCode;
    uint32_t seenThreadId;
};

uint32_t GatedThread(void* argument) {
    auto* gate = static_cast<Gate*>(argument);
    gate->seenThreadId = CurrentThreadId();
    WaitForEvent(gate->release, kInfinite);
    return gate->exitCode;
}

uint32_t ThrowingThread(void*) {
    throw std::runtime_error("escapes the thread procedure");
}

void TestThreads() {
    // Exit codes pass through unchanged, STILL_ACTIVE's value 259 included, and no code
    // is known while the thread runs. The last round never releases its thread:
    // ForceEndThread ends it with exit code 0.
    for (uint32_t exitCode : {7u, 259u, 0u}) {
        Gate gate{NewEvent(true, false), exitCode, 0};
        uint32_t threadId = 0, code = 12345;
        ThreadHandle thread = StartThread(&GatedThread, &gate, &threadId);
        CHECK(WaitForThread(thread, 50) == kWaitTimeout && !GetThreadExitCode(thread, &code));
        if (exitCode != 0) {
            SignalEvent(gate.release);
        } else {
            ForceEndThread(thread);
        }
        CHECK(WaitForThread(thread, 5000) == 0 && GetThreadExitCode(thread, &code) &&
              code == exitCode);
        CHECK(threadId != 0 && threadId != CurrentThreadId() &&
              (exitCode == 0 || threadId == gate.seenThreadId));
        CloseThread(thread);
        CloseEvent(gate.release);
    }
    // An exception leaving the procedure ends the thread with exit code 1.
    ThreadHandle thrower = StartThread(&ThrowingThread, nullptr, nullptr);
    uint32_t code = 0;
    CHECK(WaitForThread(thrower, 5000) == 0 && GetThreadExitCode(thrower, &code) && code == 1);
    CloseThread(thrower);
}

// The length comes back without the zero; exactly the length and its zero fits, one
// byte less does not.
void TestName(bool (*get)(char*, uint32_t*)) {
    char name[256], exact[256];
    uint32_t size = sizeof name;
    CHECK(get(name, &size));
    const uint32_t length = static_cast<uint32_t>(std::strlen(name));
    CHECK(size == length && length > 0);
    uint32_t exactSize = length + 1, shortSize = length, zeroSize = 0;
    std::memset(exact, 'x', sizeof exact);
    CHECK(get(exact, &exactSize) && exactSize == length && std::strcmp(exact, name) == 0);
    CHECK(!get(exact, &shortSize) && !get(exact, &zeroSize) && !get(nullptr, &size) &&
          !get(exact, nullptr));
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

// A name without an address and a port where nothing listens say so, from Winsock's
// codes (10061: WSAECONNREFUSED).
void TestSocketErrors() {
    CHECK(StartSocketService());
    SocketAddress address;
    SocketError error;
    CHECK(ResolveAddresses("a..b", 3050, &address, 1, &error) == 0 &&
          error.fault == SocketFault::kNameNotFound);
    // Port 1 (tcpmux) is served nowhere these days.
    CHECK(ResolveAddresses("127.0.0.1", 1, &address, 1, nullptr) == 1);
    error = SocketError{};
    const SocketHandle socket = CreateTcpSocket(address, &error);
    CHECK(socket != kInvalidSocket);
    // Windows itself tries a refused connect again for a while; Wine does not.
    int state = StartConnect(socket, address, &error);
    for (int i = 0; state == 0 && i < 100; ++i) {
        state = WaitConnected(socket, 100, &error);
    }
    CHECK(state == -1 && error.fault == SocketFault::kRefused && error.code == 10061);
    CloseSocket(socket);
    StopSocketService();
}

}  // namespace

int main() {
    const uint32_t start = TickCount();
    TestEvents();
    TestThreads();
    TestName(&GetComputerNameText);
    TestName(&GetUserNameText);
    TestRandom();
    TestSocketErrors();
    std::printf("platform smoke test: %u ms\n", TickCount() - start);
    return wincheck::Summary();
}
