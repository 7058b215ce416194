#pragma once
// Delivery of fired events on the host's main thread: the window procedure that
// takes WM_EVENT_FIRED messages and runs the subscriber's command template with the
// keyword "<Msg>" replaced.

#include <cstdint>

#include "channel/event_sink.h"
#include "common/ansi_string.h"
#include "host/event_ring.h"
#include "platform/abi.h"
#include "platform/window.h"

// The connections' event sink: a firing goes into the ring, and WM_EVENT_FIRED with
// its slot is posted to the host's main window. Never waits for the host.
class HostEventSink : public IEventSink {
public:
    void Bind(EventRing* ring, platform::WindowHandle window) {
        ring_ = ring;
        window_ = window;
    }
    void EventFired(const AnsiString& eventName, int32_t count) override;

private:
    EventRing* ring_ = nullptr;
    platform::WindowHandle window_ = nullptr;
};

constexpr const char* kMsgKeyword = "<Msg>";

intptr_t VARNEL_STDCALL LibraryWindowProc(platform::WindowHandle window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam);

// Builds the command for a firing: the template with its first "<Msg>" replaced by
// a double-quoted "name: count". False when the template has no keyword.
bool BuildSubscriberCommand(const AnsiString& commandTemplate, const AnsiString& eventName,
                            const char* countText, AnsiString* command);

// Runs the command template subscribed to eventName, if any, in the host.
void RunSubscriber(const AnsiString& eventName, const char* countText);
