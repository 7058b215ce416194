#pragma once
// The host's main window and its message queue.
//
// Windows: a real window (HWND); the library subclasses it with
// SetWindowLongPtrA(GWLP_WNDPROC), passes messages on with CallWindowProcA and
// posts with PostMessageA.
// POSIX: a simulated window with a thread-safe queue of posted messages and a
// replaceable window procedure; the simulated host pumps it on its main thread.
//
// The library uses ReplaceWindowProc, CallWindowProcedure and PostWindowMessage; the
// host side (the simulated host, tests) uses the rest.

#include <cstdint>

#include "platform/abi.h"

namespace platform {

using WindowHandle = void*;
using WindowProc = intptr_t(VARNEL_STDCALL*)(WindowHandle window, uint32_t message,
                                             uintptr_t wParam, intptr_t lParam);

constexpr uint32_t kWmUser = 0x0400;

// Installs proc as the window's procedure and returns the one it replaces
// (nullptr on failure).
WindowProc ReplaceWindowProc(WindowHandle window, WindowProc proc);
intptr_t CallWindowProcedure(WindowProc proc, WindowHandle window, uint32_t message,
                             uintptr_t wParam, intptr_t lParam);
// Queues a message for the window's thread without waiting; false on failure.
bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Host side. Creates a main window whose own procedure is ownProc, owned by the
// calling thread; nullptr on failure.
WindowHandle CreateHostWindow(WindowProc ownProc);
void DestroyHostWindow(WindowHandle window);
// Calls the window's current procedure at once on the calling thread (SendMessageA)
// and returns its result.
intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam);
// Dispatches the window's queued messages to its current procedure on the calling
// thread. Waits up to timeoutMs for the first message when none is queued (0: do not
// wait). Returns the number of messages dispatched.
int PumpMessages(WindowHandle window, uint32_t timeoutMs);

}  // namespace platform
