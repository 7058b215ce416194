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

constexpr const char* kMsgKeyword = "<Msg>";

// The connections' event sink: a firing joins the pending deliveries of the ring,
// and a new delivery gets its WM_EVENT_FIRED posted to the host's main window. Never
// waits for the host.
class HostEventSink : public IEventSink {
public:
    void Bind(EventRing* ring, platform::WindowHandle window) {
        ring_ = ring;
        window_ = window;
    }
    void EventFired(int32_t connection, const AnsiString& eventName, int32_t count) override;
    void ConnectionLost(int32_t connection, const AnsiString& reason) override;
    void ConnectionRestored(int32_t connection, const AnsiString& text) override;

private:
    void Post(int32_t slot);

    EventRing* ring_ = nullptr;
    platform::WindowHandle window_ = nullptr;
};

intptr_t VARNEL_STDCALL LibraryWindowProc(platform::WindowHandle window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam);

// The text "<Msg>" stands for: `text` in the first of ", ' and [...] that it does not
// contain (double quotes when it contains all of them).
AnsiString QuoteForHost(const AnsiString& text);

// Builds the command for a firing: the template with its first "<Msg>" replaced by
// the quoted "name: count". False when the template has no keyword.
bool BuildSubscriberCommand(const AnsiString& commandTemplate, const AnsiString& eventName,
                            const char* countText, AnsiString* command);

// Runs the command template subscribed to eventName on connection, if any, in the
// host.
void RunSubscriber(int32_t connection, const AnsiString& eventName, const char* countText);

// Runs the command registered for a notice (kLoss, kRestore) about connection, if
// any, with "<Msg>" replaced by the handle and the quoted text.
void RunNoticeCommand(DeliveryKind kind, int32_t connection, const AnsiString& text);
