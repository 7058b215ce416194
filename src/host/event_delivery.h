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

// How a front end learns of a new delivery. Listener threads call it; it never waits
// for the host.
class IDeliveryAnnouncer {
public:
    // Announces the delivery just put in `slot` for connection. False when the
    // announcement is lost and the delivery could never be taken without it.
    virtual bool Announce(int32_t connection, int32_t slot) = 0;

protected:
    ~IDeliveryAnnouncer() = default;
};

// The connections' event sink: a firing, a loss or a restore joins the pending
// deliveries of the ring, and a new delivery is announced; one whose announcement is
// lost for good is dropped, since it would wait for ever, and every later firing of
// its event with it. Never waits for the host.
class DeliverySink : public IEventSink {
public:
    DeliverySink() = default;
    DeliverySink(EventRing* ring, IDeliveryAnnouncer* announcer) { Bind(ring, announcer); }
    void Bind(EventRing* ring, IDeliveryAnnouncer* announcer) {
        ring_ = ring;
        announcer_ = announcer;
    }
    void EventFired(int32_t connection, const AnsiString& eventName, int32_t count) override;
    void ConnectionLost(int32_t connection, const AnsiString& reason) override;
    void ConnectionRestored(int32_t connection, const AnsiString& text) override;

private:
    void Notice(DeliveryKind kind, int32_t connection, const AnsiString& text);
    void Announce(int32_t connection, int32_t slot);

    EventRing* ring_ = nullptr;
    IDeliveryAnnouncer* announcer_ = nullptr;
};

// Varnel.fll's announcement: WM_EVENT_FIRED with the slot, posted to the host's main
// window, whose LibraryWindowProc runs the delivery.
class HostWindowAnnouncer : public IDeliveryAnnouncer {
public:
    void SetWindow(platform::WindowHandle window) { window_ = window; }
    bool Announce(int32_t connection, int32_t slot) override;

private:
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
