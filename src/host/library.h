#pragma once
// The loaded library's state and the two hooks of Varnel.fll: VARNEL_INIT starts the
// request channel and puts the library's window procedure in front of the host main
// window's own; VARNEL_EXIT stops both. Also the front end of the request channel.

#include <cstdint>

#include "channel/request_block.h"
#include "channel/worker.h"
#include "common/grow_array.h"
#include "host/event_delivery.h"
#include "host/event_ring.h"
#include "host/subscription_table.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/window.h"

// The command that VN_ONLOST or VN_ONRESTORED registered for a connection.
struct NoticeCommand {
    int32_t connection = 0;
    AnsiString commandTemplate;
};

struct LibraryState {
    platform::WindowHandle mainWindow = nullptr;
    platform::WindowProc previousWindowProc = nullptr;
    platform::EventHandle requestEvent = nullptr;
    platform::EventHandle replyEvent = nullptr;
    platform::ThreadHandle workerThread = nullptr;
    uint32_t workerThreadId = 0;
    // True while the hooks' work is complete: events, worker and window procedure.
    bool ready = false;

    RequestBlock request;
    WorkerContext workerContext;
    EventRing eventRing;
    HostWindowAnnouncer hostWindow;
    DeliverySink eventSink;
    SubscriptionTable subscriptions;
    GrowArray<NoticeCommand> lossCommands;
    GrowArray<NoticeCommand> restoreCommands;
};

// The one state of the loaded library.
LibraryState& Library();

void VarnelInit();
void VarnelExit();

// What both front ends share: a fresh state, and the request channel (its two events
// and the worker thread, whose connections hand firings to `sink`). StartChannel
// leaves nothing open when it fails. QuitWorker has the worker close every
// connection and end; ReleaseChannel waits for it and closes the events.
void ResetLibrary();
bool StartChannel(IEventSink* sink);
void QuitWorker();
void ReleaseChannel();

// Sends the request written in Library().request to the worker and waits, without
// time-out, for its reply.
void MakeRequest();

// The worker thread procedure VARNEL_INIT starts; tests may replace it.
void SetWorkerProcForTesting(platform::ThreadProc proc);
// How long VARNEL_EXIT waits for the worker to end after its reply.
constexpr uint32_t kWorkerEndLimitMs = 5000;
