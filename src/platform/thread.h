#pragma once
// Threads: start, wait with a limit, exit code, and the forcible end that the
// library needs when its worker does not stop in time.

#include <cstdint>

#include "platform/event.h"  // kInfinite and the wait results

namespace platform {

using ThreadHandle = void*;
// A thread procedure. It must not let an exception escape; the platform treats an
// escaping exception as exit code 1 on POSIX, and the library never relies on that.
using ThreadProc = uint32_t (*)(void* argument);

// Starts a thread that runs proc(argument) at once. nullptr on failure.
ThreadHandle StartThread(ThreadProc proc, void* argument, uint32_t* threadId);

// 0 when the thread has ended within timeoutMs (kInfinite: no limit); kWaitTimeout
// or kWaitFailed otherwise.
int WaitForThread(ThreadHandle thread, uint32_t timeoutMs);

// The exit code of an ended thread; false while it runs.
bool GetThreadExitCode(ThreadHandle thread, uint32_t* exitCode);

// Ends a thread that has not stopped in time.
// Windows: TerminateThread with exit code 0.
// POSIX: a thread cannot be ended safely from outside. It is left to run on its own
// (it is detached when its handle is closed), and the code of the module that
// holds this function is pinned in memory, so that unloading the library later can
// never pull the code out from under the thread.
void ForceEndThread(ThreadHandle thread);

// Releases the handle. A thread that still runs goes on running, detached.
void CloseThread(ThreadHandle thread);

uint32_t CurrentThreadId();

}  // namespace platform
