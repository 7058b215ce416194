// Threads on POSIX, over std::thread. A handle is a shared record of the thread's
// end; the record lives until both the thread and the handle are done with it.

#include "platform/thread.h"

#include "platform/event.h"
#include "platform/system_calls.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace platform {
namespace {

struct ThreadRecord {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    uint32_t exitCode = 0;
    std::thread thread;
};

struct ThreadHandleObject {
    std::shared_ptr<ThreadRecord> record;
};

// Keeps the shared object that holds this code mapped for the rest of the process,
// so that a thread left running can never execute unmapped code.
void PinThisModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PinThisModule), &info) != 0 && info.dli_fname) {
        // The handle is deliberately never closed.
        (void)dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* argument, uint32_t* threadId) {
    if (SystemCallFails(SystemCall::kThread)) {
        return nullptr;
    }
    auto* handle = new (std::nothrow) ThreadHandleObject;
    if (handle == nullptr) {
        return nullptr;
    }
    try {
        handle->record = std::make_shared<ThreadRecord>();
        std::shared_ptr<ThreadRecord> record = handle->record;
        std::lock_guard<std::mutex> guard(record->mutex);
        record->thread = std::thread([record, proc, argument] {
            uint32_t code = 1;
            try {
                code = proc(argument);
            } catch (...) {
                code = 1;
            }
            {
                std::lock_guard<std::mutex> done(record->mutex);
                record->done = true;
                record->exitCode = code;
            }
            record->ended.notify_all();
        });
        if (threadId != nullptr) {
            *threadId =
                static_cast<uint32_t>(std::hash<std::thread::id>{}(record->thread.get_id()));
        }
    } catch (...) {
        delete handle;
        return nullptr;
    }
    return handle;
}

int WaitForThread(ThreadHandle thread, uint32_t timeoutMs) {
    if (thread == nullptr) {
        return kWaitFailed;
    }
    ThreadRecord& record = *static_cast<ThreadHandleObject*>(thread)->record;
    std::unique_lock<std::mutex> lock(record.mutex);
    if (timeoutMs == kInfinite) {
        record.ended.wait(lock, [&] { return record.done; });
        return 0;
    }
    return record.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return record.done; })
               ? 0
               : kWaitTimeout;
}

bool GetThreadExitCode(ThreadHandle thread, uint32_t* exitCode) {
    if (thread == nullptr) {
        return false;
    }
    ThreadRecord& record = *static_cast<ThreadHandleObject*>(thread)->record;
    std::lock_guard<std::mutex> guard(record.mutex);
    if (!record.done) {
        return false;
    }
    if (exitCode != nullptr) {
        *exitCode = record.exitCode;
    }
    return true;
}

void ForceEndThread(ThreadHandle thread) {
    if (thread != nullptr) {
        PinThisModule();
    }
}

void CloseThread(ThreadHandle thread) {
    auto* handle = static_cast<ThreadHandleObject*>(thread);
    if (handle == nullptr) {
        return;
    }
    bool done;
    {
        std::lock_guard<std::mutex> guard(handle->record->mutex);
        done = handle->record->done;
    }
    if (handle->record->thread.joinable()) {
        if (done) {
            handle->record->thread.join();
        } else {
            handle->record->thread.detach();
        }
    }
    delete handle;
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

}  // namespace platform
