// VN_SUBSCRIBE, VN_UNSUBSCRIBE, VN_LIST_SUBSCR and VN_DISCONNECT.
#include <cstdio>

#include "host/event_delivery.h"
#include "host/host_api.h"
#include "host/host_functions.h"
#include "host/library.h"
#include "messages/texts.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxEventName = 64;
constexpr size_t kMaxTemplate = 64;

[[noreturn]] void RaiseFormatted(const char* format, int limit) {
    char message[128];
    std::snprintf(message, sizeof message, format, limit);
    host::HostRaiseError(message);
}

void CheckEventName(const AnsiString& name) {
    if (name.IsEmpty()) {
        host::HostRaiseError(msg::kEventNameEmpty);
    }
    if (name.Length() > kMaxEventName) {
        RaiseFormatted(msg::kEventNameTooLong, static_cast<int>(kMaxEventName));
    }
}

void RequireReady() {
    if (!Library().ready) {
        host::HostRaiseError(msg::kNotInitialized);
    }
}

// Makes the request and raises the worker's text unless it answered 1.
void RequestOrRaise(uint8_t command) {
    RequestBlock& request = Library().request;
    request.command = command;
    MakeRequest();
    if (request.handle != 1) {
        host::HostRaiseError(request.text);
    }
}

}  // namespace

void VARNEL_CDECL VN_SUBSCRIBE(hostabi::ParamBlock* params) {
    RequestBlock& request = Library().request;
    request.handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 2));
    RequireReady();
    CheckEventName(name);
    if (commandTemplate.Length() > kMaxTemplate) {
        RaiseFormatted(msg::kTemplateTooLong, static_cast<int>(kMaxTemplate));
    }
    if (platform::FindText(commandTemplate.CStr(), kMsgKeyword) < 0) {
        char message[128];
        std::snprintf(message, sizeof message, msg::kTemplateWithoutKeyword, kMsgKeyword);
        host::HostRaiseError(message);
    }
    CopyToField(request.text, name.CStr());
    RequestOrRaise(REQ_SUBSCRIBE);
    // With all records in use the name stays unrecorded: the server side holds the
    // subscription, and its firings run no command.
    Library().subscriptions.Store(name, commandTemplate);
}

void VARNEL_CDECL VN_UNSUBSCRIBE(hostabi::ParamBlock* params) {
    RequestBlock& request = Library().request;
    request.handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    RequireReady();
    CheckEventName(name);
    CopyToField(request.text, name.CStr());
    RequestOrRaise(REQ_UNSUBSCRIBE);
    SubscriptionTable& table = Library().subscriptions;
    table.Free(table.Find(name));
}

void VARNEL_CDECL VN_LIST_SUBSCR(hostabi::ParamBlock*) {
    host::HostReturnString(Library().subscriptions.Listing());
}

void VARNEL_CDECL VN_DISCONNECT(hostabi::ParamBlock* params) {
    RequireReady();
    RequestBlock& request = Library().request;
    request.handle = hostabi::Arg(params, 0)->intValue;
    RequestOrRaise(REQ_DISCONNECT);
}
