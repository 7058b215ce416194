#include "host/event_delivery.h"

#include <cstdio>
#include <cstring>

#include "host/host_api.h"
#include "host/library.h"
#include "platform/text.h"

void DeliverySink::EventFired(int32_t connection, const AnsiString& eventName, int32_t count) {
    int32_t slot = 0;
    if (ring_ != nullptr && ring_->Put(connection, eventName, count, &slot)) {
        Announce(connection, slot);
    }
}

void DeliverySink::ConnectionLost(int32_t connection, const AnsiString& reason) {
    Notice(DeliveryKind::kLoss, connection, reason);
}

void DeliverySink::ConnectionRestored(int32_t connection, const AnsiString& text) {
    Notice(DeliveryKind::kRestore, connection, text);
}

void DeliverySink::Notice(DeliveryKind kind, int32_t connection, const AnsiString& text) {
    int32_t slot = 0;
    if (ring_ != nullptr && ring_->PutNotice(kind, connection, text, &slot)) {
        Announce(connection, slot);
    }
}

void DeliverySink::Announce(int32_t connection, int32_t slot) {
    if (!announcer_->Announce(connection, slot)) {
        ring_->Drop(slot);
    }
}

bool HostWindowAnnouncer::Announce(int32_t, int32_t slot) {
    return platform::PostWindowMessage(window_, WM_EVENT_FIRED, static_cast<uintptr_t>(slot), 0);
}

AnsiString QuoteForHost(const AnsiString& text) {
    const char* const delimiters[] = {"\"\"", "''", "[]"};
    const char* chosen = delimiters[0];
    for (const char* pair : delimiters) {
        if (std::memchr(text.Data(), pair[0], text.Length()) == nullptr &&
            std::memchr(text.Data(), pair[1], text.Length()) == nullptr) {
            chosen = pair;
            break;
        }
    }
    AnsiString quoted;
    quoted.AppendByte(chosen[0]);
    quoted.Append(text);
    quoted.AppendByte(chosen[1]);
    return quoted;
}

namespace {

// The template with its first "<Msg>" replaced by `value`; false without the keyword.
bool ReplaceKeyword(const AnsiString& commandTemplate, const AnsiString& value,
                    AnsiString* command) {
    const std::ptrdiff_t at = platform::FindText(commandTemplate.CStr(), kMsgKeyword);
    if (at < 0) {
        return false;
    }
    const char* text = commandTemplate.CStr();
    command->Clear();
    command->Append(text, static_cast<size_t>(at));
    command->Append(value);
    command->Append(text + at + std::strlen(kMsgKeyword));
    return true;
}

}  // namespace

bool BuildSubscriberCommand(const AnsiString& commandTemplate, const AnsiString& eventName,
                            const char* countText, AnsiString* command) {
    AnsiString message(eventName.CStr());
    message.Append(": ");
    message.Append(countText);
    return ReplaceKeyword(commandTemplate, QuoteForHost(message), command);
}

void RunSubscriber(int32_t connection, const AnsiString& eventName, const char* countText) {
    const SubscriptionTable& table = Library().subscriptions;
    // A firing that arrives after its connection unsubscribed the name runs nothing.
    if (!table.Subscribes(eventName, connection)) {
        return;
    }
    const AnsiString& commandTemplate = table.At(table.Find(eventName)).commandTemplate;
    AnsiString command;
    if (BuildSubscriberCommand(commandTemplate, eventName, countText, &command)) {
        host::HostExecute(command.CStr());
    }
}

void RunNoticeCommand(DeliveryKind kind, int32_t connection, const AnsiString& text) {
    const LibraryState& state = Library();
    const GrowArray<NoticeCommand>& commands =
        kind == DeliveryKind::kLoss ? state.lossCommands : state.restoreCommands;
    for (const NoticeCommand& registered : commands) {
        if (registered.connection == connection) {
            char handle[16];
            std::snprintf(handle, sizeof handle, "%d, ", static_cast<int>(connection));
            AnsiString value(handle);
            value.Append(QuoteForHost(text));
            AnsiString command;
            if (ReplaceKeyword(registered.commandTemplate, value, &command)) {
                host::HostExecute(command.CStr());
            }
            return;
        }
    }
}

intptr_t VARNEL_STDCALL LibraryWindowProc(platform::WindowHandle window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam) {
    LibraryState& state = Library();
    EventSlot delivery;
    // A WM_USER + 1 that stands for no delivery is not ours: pass it on.
    if (message == WM_EVENT_FIRED && wParam <= 0x7FFFFFFFu &&
        state.eventRing.Take(static_cast<int32_t>(wParam), &delivery)) {
        try {
            if (delivery.kind != DeliveryKind::kFiring) {
                RunNoticeCommand(delivery.kind, delivery.connection, delivery.text);
            } else {
                char countText[16];
                std::snprintf(countText, sizeof countText, "%d", static_cast<int>(delivery.count));
                RunSubscriber(delivery.connection, delivery.eventName, countText);
            }
        } catch (...) {
            // Nothing may leave a window procedure; a failed command is the host's matter.
        }
        return 0;
    }
    return platform::CallWindowProcedure(state.previousWindowProc, window, message, wParam, lParam);
}
