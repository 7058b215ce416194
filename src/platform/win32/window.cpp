// Windows and messages on Windows. A WindowHandle is the HWND and a WindowProc has
// the binary shape of a WNDPROC, so both pass straight through to the system.

#include "platform/window.h"

#include <windows.h>

namespace platform {
namespace {

// WindowProc and WNDPROC differ only in the pointer type of the first parameter.
// Going through the generic function pointer type keeps -Wcast-function-type quiet
// about a conversion that is exact.
using AnyFunction = void (*)();

WNDPROC ToSystem(WindowProc proc) {
    return reinterpret_cast<WNDPROC>(reinterpret_cast<AnyFunction>(proc));
}

WindowProc FromSystem(WNDPROC proc) {
    return reinterpret_cast<WindowProc>(reinterpret_cast<AnyFunction>(proc));
}

HWND AsHwnd(WindowHandle window) {
    return static_cast<HWND>(window);
}

const char kHostWindowClass[] = "VarnelHostWindow";

// A thread message that PumpMessages posts behind what is already queued, so that it
// stops there: a procedure that keeps posting cannot keep one call going for ever.
constexpr UINT kPumpMarker = WM_APP + 0x3A51;

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&kHostWindowClass), &module);
    return module;
}

// Registers the host window class once per process; its procedure is the default
// one until CreateHostWindow installs the window's own.
bool RegisterHostClass(HINSTANCE module) {
    static const bool registered = [module] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kHostWindowClass;
        return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

WindowProc ReplaceWindowProc(WindowHandle window, WindowProc proc) {
    if (window == nullptr || proc == nullptr) {
        return nullptr;
    }
    // SetWindowLongA with GWL_WNDPROC in the 32-bit build.
    LONG_PTR previous =
        SetWindowLongPtrA(AsHwnd(window), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ToSystem(proc)));
    return FromSystem(reinterpret_cast<WNDPROC>(previous));
}

intptr_t CallWindowProcedure(WindowProc proc, WindowHandle window, uint32_t message,
                             uintptr_t wParam, intptr_t lParam) {
    // With no procedure the message gets the system's default processing, so that a
    // host window's own procedure can pass on what it does not handle.
    if (proc == nullptr) {
        return DefWindowProcA(AsHwnd(window), message, wParam, lParam);
    }
    return CallWindowProcA(ToSystem(proc), AsHwnd(window), message, wParam, lParam);
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    // A null window would make PostMessageA post to the calling thread instead.
    if (window == nullptr) {
        return false;
    }
    return PostMessageA(AsHwnd(window), message, wParam, lParam) != FALSE;
}

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
    if (window == nullptr) {
        return 0;
    }
    return SendMessageA(AsHwnd(window), message, wParam, lParam);
}

WindowHandle CreateHostWindow(WindowProc ownProc) {
    HINSTANCE module = ThisModule();
    if (!RegisterHostClass(module)) {
        return nullptr;
    }
    // A top-level window that is never shown.
    HWND window = CreateWindowExA(0, kHostWindowClass, "Varnel host", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, module, nullptr);
    if (window == nullptr) {
        return nullptr;
    }
    if (ownProc != nullptr && ReplaceWindowProc(window, ownProc) == nullptr) {
        DestroyWindow(window);
        return nullptr;
    }
    return window;
}

void DestroyHostWindow(WindowHandle window) {
    if (window != nullptr) {
        DestroyWindow(AsHwnd(window));
    }
}

int PumpMessages(WindowHandle window, uint32_t timeoutMs) {
    (void)window;  // every message of the calling thread is dispatched
    MSG message{};
    if (timeoutMs != 0 && !PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        // Wait for a posted message. Sent messages are handled inside PeekMessageA and
        // may end the wait early, so it is repeated until the time is up.
        DWORD start = GetTickCount();
        for (;;) {
            DWORD remaining = INFINITE;
            if (timeoutMs != INFINITE) {
                DWORD elapsed = GetTickCount() - start;
                if (elapsed >= timeoutMs) {
                    break;
                }
                remaining = timeoutMs - elapsed;
            }
            DWORD woke = MsgWaitForMultipleObjectsEx(0, nullptr, remaining, QS_ALLINPUT,
                                                     MWMO_INPUTAVAILABLE);
            if (woke != WAIT_OBJECT_0) {
                break;  // time-out or failure
            }
            if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
                break;
            }
        }
    }
    const DWORD thisThread = GetCurrentThreadId();
    // The address of this call's own MSG tells its marker from that of a call further
    // up the stack (a procedure that pumps). When the marker cannot be posted, the
    // loop runs until the queue is empty.
    const WPARAM cookie = reinterpret_cast<WPARAM>(&message);
    PostThreadMessageA(thisThread, kPumpMarker, cookie, 0);
    int dispatched = 0;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == nullptr && message.message == kPumpMarker) {
            if (message.wParam == cookie) {
                break;
            }
            continue;  // the marker of an outer call: stale here, dropped
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
        ++dispatched;
    }
    return dispatched;
}

}  // namespace platform
