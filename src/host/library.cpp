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

void ResetLibrary() {
    LibraryState& state = Library();
    state.ready = false;
    state.subscriptions = SubscriptionTable();
    state.lossCommands.Clear();
    state.restoreCommands.Clear();
    state.eventRing.Clear();
    state.request = RequestBlock();
}

bool StartChannel(IEventSink* sink) {
    LibraryState& state = Library();
    state.requestEvent = platform::NewEvent(false, false);
    state.replyEvent = platform::NewEvent(false, false);
    if (state.requestEvent == nullptr || state.replyEvent == nullptr) {
        CloseEverything(state);
        return false;
    }
    state.workerContext = WorkerContext{&state.request, state.requestEvent, state.replyEvent, sink};
    state.workerThread =
        platform::StartThread(g_workerProc, &state.workerContext, &state.workerThreadId);
    if (state.workerThread == nullptr) {
        CloseEverything(state);
        return false;
    }
    return true;
}

void QuitWorker() {
    LibraryState& state = Library();
    if (state.workerThread != nullptr) {
        state.request.command = REQ_QUIT;
        MakeRequest();
    }
}

void ReleaseChannel() {
    LibraryState& state = Library();
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

void VarnelInit() {
    LibraryState& state = Library();
    ResetLibrary();
    state.mainWindow = host::HostWindowToHwnd(host::HostMainWindow(0, 1));
    // Without these no request could ever be answered: stay not ready, so that
    // every host function raises instead of waiting for ever.
    if (state.mainWindow == nullptr) {
        return;
    }
    state.hostWindow.SetWindow(state.mainWindow);
    state.eventSink.Bind(&state.eventRing, &state.hostWindow);
    if (!StartChannel(&state.eventSink)) {
        return;
    }
    state.previousWindowProc = platform::ReplaceWindowProc(state.mainWindow, LibraryWindowProc);
    if (state.previousWindowProc == nullptr) {
        // Events could never be delivered; stop the worker again and stay not ready.
        QuitWorker();
        ReleaseChannel();
        return;
    }
    state.ready = true;
}

void VarnelExit() {
    LibraryState& state = Library();
    QuitWorker();
    if (state.previousWindowProc != nullptr) {
        platform::ReplaceWindowProc(state.mainWindow, state.previousWindowProc);
        state.previousWindowProc = nullptr;
    }
    ReleaseChannel();
}

void MakeRequest() {
    LibraryState& state = Library();
    platform::SignalEvent(state.requestEvent);
    platform::WaitForEvent(state.replyEvent, platform::kInfinite);
}
