#include "host/library.h"

#include "host/event_delivery.h"
#include "host/host_api.h"

namespace {

platform::ThreadProc g_workerProc = WorkerThreadProc;

void CloseEverything(LibraryState& state) {
    if (state.requestEvent != nullptr) {
        platform::CloseEvent(state.requestEvent);
        state.requestEvent = nullptr;
    }
    if (state.replyEvent != nullptr) {
        platform::CloseEvent(state.replyEvent);
        state.replyEvent = nullptr;
    }
}

}  // namespace

LibraryState& Library() {
    static LibraryState state;
    return state;
}

void SetWorkerProcForTesting(platform::ThreadProc proc) {
    g_workerProc = proc != nullptr ? proc : WorkerThreadProc;
}

void VarnelInit() {
    LibraryState& state = Library();
    state.ready = false;
    state.subscriptions = SubscriptionTable();
    state.lossCommands.Clear();
    state.eventRing.Clear();
    state.request = RequestBlock();

    state.mainWindow = host::HostWindowToHwnd(host::HostMainWindow(0, 1));
    state.requestEvent = platform::NewEvent(false, false);
    state.replyEvent = platform::NewEvent(false, false);
    if (state.mainWindow == nullptr || state.requestEvent == nullptr ||
        state.replyEvent == nullptr) {
        // Without these no request could ever be answered: stay not ready, so that
        // every host function raises instead of waiting for ever.
        CloseEverything(state);
        return;
    }

    state.eventSink.Bind(&state.eventRing, state.mainWindow);
    state.workerContext =
        WorkerContext{&state.request, state.requestEvent, state.replyEvent, &state.eventSink};
    state.workerThread =
        platform::StartThread(g_workerProc, &state.workerContext, &state.workerThreadId);
    if (state.workerThread == nullptr) {
        CloseEverything(state);
        return;
    }

    state.previousWindowProc = platform::ReplaceWindowProc(state.mainWindow, LibraryWindowProc);
    if (state.previousWindowProc == nullptr) {
        // Events could never be delivered; stop the worker again and stay not ready.
        state.request.command = REQ_QUIT;
        MakeRequest();
        platform::WaitForThread(state.workerThread, kWorkerEndLimitMs);
        platform::CloseThread(state.workerThread);
        state.workerThread = nullptr;
        CloseEverything(state);
        return;
    }
    state.ready = true;
}

void VarnelExit() {
    LibraryState& state = Library();
    if (state.workerThread != nullptr) {
        state.request.command = REQ_QUIT;
        MakeRequest();
    }
    if (state.previousWindowProc != nullptr) {
        platform::ReplaceWindowProc(state.mainWindow, state.previousWindowProc);
        state.previousWindowProc = nullptr;
    }
    if (state.requestEvent != nullptr) {
        platform::CloseEvent(state.requestEvent);
        state.requestEvent = nullptr;
    }
    if (state.workerThread != nullptr) {
        if (platform::WaitForThread(state.workerThread, kWorkerEndLimitMs) != 0) {
            platform::ForceEndThread(state.workerThread);
        }
        platform::CloseThread(state.workerThread);
        state.workerThread = nullptr;
    }
    if (state.replyEvent != nullptr) {
        platform::CloseEvent(state.replyEvent);
        state.replyEvent = nullptr;
    }
    state.ready = false;
}

void MakeRequest() {
    LibraryState& state = Library();
    platform::SignalEvent(state.requestEvent);
    platform::WaitForEvent(state.replyEvent, platform::kInfinite);
}
