// The simulated host window on POSIX: a queue of posted messages and a replaceable
// window procedure. Any thread may post; the host's main thread pumps.

#include "platform/window.h"

#include "platform/system_calls.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

namespace platform {
namespace {

struct PostedMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

struct SimWindow {
    std::atomic<WindowProc> proc{nullptr};
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<PostedMessage> queue;
};

SimWindow* AsWindow(WindowHandle window) {
    return static_cast<SimWindow*>(window);
}

}  // namespace

WindowProc ReplaceWindowProc(WindowHandle window, WindowProc proc) {
    if (window == nullptr || proc == nullptr || SystemCallFails(SystemCall::kWindowProc)) {
        return nullptr;
    }
    return AsWindow(window)->proc.exchange(proc);
}

intptr_t CallWindowProcedure(WindowProc proc, WindowHandle window, uint32_t message,
                             uintptr_t wParam, intptr_t lParam) {
    return proc != nullptr ? proc(window, message, wParam, lParam) : 0;
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    SimWindow* target = AsWindow(window);
    if (target == nullptr) {
        return false;
    }
    try {
        std::lock_guard<std::mutex> guard(target->mutex);
        target->queue.push_back(PostedMessage{message, wParam, lParam});
    } catch (...) {
        return false;
    }
    target->posted.notify_all();
    return true;
}

WindowHandle CreateHostWindow(WindowProc ownProc) {
    auto* window = new (std::nothrow) SimWindow;
    if (window != nullptr) {
        window->proc.store(ownProc);
    }
    return window;
}

void DestroyHostWindow(WindowHandle window) {
    delete AsWindow(window);
}

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
    SimWindow* target = AsWindow(window);
    WindowProc proc = target != nullptr ? target->proc.load() : nullptr;
    return proc != nullptr ? proc(window, message, wParam, lParam) : 0;
}

int PumpMessages(WindowHandle window, uint32_t timeoutMs) {
    SimWindow* target = AsWindow(window);
    if (target == nullptr) {
        return 0;
    }
    int dispatched = 0;
    std::unique_lock<std::mutex> lock(target->mutex);
    if (target->queue.empty() && timeoutMs != 0) {
        auto ready = [&] { return !target->queue.empty(); };
        if (timeoutMs == 0xFFFFFFFFu) {
            target->posted.wait(lock, ready);
        } else {
            target->posted.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        }
    }
    // Only what is queued now is dispatched, so that a procedure that posts again
    // cannot keep one pump call going for ever.
    size_t pending = target->queue.size();
    while (pending-- > 0 && !target->queue.empty()) {
        PostedMessage next = target->queue.front();
        target->queue.pop_front();
        lock.unlock();
        WindowProc proc = target->proc.load();
        if (proc != nullptr) {
            proc(window, next.message, next.wParam, next.lParam);
        }
        ++dispatched;
        lock.lock();
    }
    return dispatched;
}

}  // namespace platform
