#include "host/event_delivery.h"

#include <cstdio>
#include <cstring>

#include "host/host_api.h"
#include "host/library.h"
#include "platform/text.h"

void HostEventSink::EventFired(const AnsiString& eventName, int32_t count) {
    if (ring_ == nullptr) {
        return;
    }
    const int32_t slot = ring_->Put(eventName, count);
    platform::PostWindowMessage(window_, WM_EVENT_FIRED, static_cast<uintptr_t>(slot), 0);
}

bool BuildSubscriberCommand(const AnsiString& commandTemplate, const AnsiString& eventName,
                            const char* countText, AnsiString* command) {
    const std::ptrdiff_t at = platform::FindText(commandTemplate.CStr(), kMsgKeyword);
    if (at < 0) {
        return false;
    }
    const char* text = commandTemplate.CStr();
    command->Clear();
    command->Append(text, static_cast<size_t>(at));
    command->Append("\"");
    command->Append(eventName.CStr());
    command->Append(": ");
    command->Append(countText);
    command->Append("\"");
    command->Append(text + at + std::strlen(kMsgKeyword));
    return true;
}

void RunSubscriber(const AnsiString& eventName, const char* countText) {
    const SubscriptionTable& table = Library().subscriptions;
    const int index = table.Find(eventName);
    if (index < 0) {
        return;
    }
    const AnsiString& commandTemplate = table.At(index).commandTemplate;
    if (commandTemplate.IsEmpty()) {
        return;
    }
    AnsiString command;
    if (BuildSubscriberCommand(commandTemplate, eventName, countText, &command)) {
        host::HostExecute(command.CStr());
    }
}

intptr_t VARNEL_STDCALL LibraryWindowProc(platform::WindowHandle window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam) {
    LibraryState& state = Library();
    EventSlot slot;
    // A WM_USER + 1 whose slot lies outside the ring is not ours: pass it on.
    if (message == WM_EVENT_FIRED && wParam < static_cast<uintptr_t>(EventRing::kSlots) &&
        state.eventRing.Read(static_cast<int32_t>(wParam), &slot)) {
        try {
            char countText[16];
            std::snprintf(countText, sizeof countText, "%d", static_cast<int>(slot.count));
            RunSubscriber(AnsiString(slot.eventName), countText);
        } catch (...) {
            // Nothing may leave a window procedure; a failed command is the host's matter.
        }
        return 0;
    }
    return platform::CallWindowProcedure(state.previousWindowProc, window, message, wParam, lParam);
}
