// Threads on Windows. A ThreadHandle is the thread's HANDLE; a small start record
// carries the platform's procedure and argument to the Windows thread procedure.

#include "platform/thread.h"

#include <windows.h>

#include "platform/win32/wait.h"

#include <new>

namespace platform {
namespace {

struct StartRecord {
    ThreadProc proc;
    void* argument;
};

// No exception may leave a thread procedure (the 32-bit build unwinds with DWARF
// tables, which cannot cross the system's frames), so every one ends here as exit
// code 1.
DWORD WINAPI Trampoline(LPVOID parameter) {
    StartRecord start = *static_cast<StartRecord*>(parameter);
    delete static_cast<StartRecord*>(parameter);
    try {
        return static_cast<DWORD>(start.proc(start.argument));
    } catch (...) {
        return 1;
    }
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* argument, uint32_t* threadId) {
    if (proc == nullptr) {
        return nullptr;
    }
    auto* start = new (std::nothrow) StartRecord{proc, argument};
    if (start == nullptr) {
        return nullptr;
    }
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &Trampoline, start, 0, &id);
    if (thread == nullptr) {
        delete start;
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = static_cast<uint32_t>(id);
    }
    return thread;
}

int WaitForThread(ThreadHandle thread, uint32_t timeoutMs) {
    return WaitForHandle(static_cast<HANDLE>(thread), timeoutMs);
}

bool GetThreadExitCode(ThreadHandle thread, uint32_t* exitCode) {
    if (thread == nullptr) {
        return false;
    }
    // GetExitCodeThread alone reports STILL_ACTIVE (259) for a running thread, which a
    // thread may also return; the zero wait tells the two apart.
    if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    if (!GetExitCodeThread(thread, &code)) {
        return false;
    }
    if (exitCode != nullptr) {
        *exitCode = static_cast<uint32_t>(code);
    }
    return true;
}

void ForceEndThread(ThreadHandle thread) {
    if (thread != nullptr) {
        TerminateThread(thread, 0);
    }
}

void CloseThread(ThreadHandle thread) {
    if (thread != nullptr) {
        CloseHandle(thread);
    }
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

}  // namespace platform
