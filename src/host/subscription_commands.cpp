// VN_SUBSCRIBE, VN_UNSUBSCRIBE, VN_LIST_SUBSCR, VN_DISCONNECT and VN_ONLOST.
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

void CheckTemplate(const AnsiString& commandTemplate) {
    if (commandTemplate.Length() > kMaxTemplate) {
        RaiseFormatted(msg::kTemplateTooLong, static_cast<int>(kMaxTemplate));
    }
    if (platform::FindText(commandTemplate.CStr(), kMsgKeyword) < 0) {
        char message[128];
        std::snprintf(message, sizeof message, msg::kTemplateWithoutKeyword, kMsgKeyword);
        host::HostRaiseError(message);
    }
}

// Registers (or, with an empty template, removes) the loss command of a connection.
bool SetLossCommand(int32_t connection, const AnsiString& commandTemplate) {
    GrowArray<LossCommand>& commands = Library().lossCommands;
    for (size_t i = 0; i < commands.Size(); ++i) {
        if (commands[i].connection == connection) {
            if (commandTemplate.IsEmpty()) {
                commands.RemoveAt(i);
            } else {
                commands[i].commandTemplate = commandTemplate;
            }
            return true;
        }
    }
    return commandTemplate.IsEmpty() || commands.Append(LossCommand{connection, commandTemplate});
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
    request.handleArgument = request.handle;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 2));
    RequireReady();
    CheckEventName(name);
    CheckTemplate(commandTemplate);
    SubscriptionTable& table = Library().subscriptions;
    if (!table.HasRoom(name)) {
        RaiseFormatted(msg::kTooManyEventNames, SubscriptionTable::kRecords);
    }
    CopyToField(request.text, name.CStr());
    RequestOrRaise(REQ_SUBSCRIBE);
    if (!table.Store(name, commandTemplate, request.handleArgument)) {
        host::HostRaiseError(msg::kNotEnoughMemory);
    }
}

void VARNEL_CDECL VN_UNSUBSCRIBE(hostabi::ParamBlock* params) {
    RequestBlock& request = Library().request;
    request.handle = hostabi::Arg(params, 0)->intValue;
    request.handleArgument = request.handle;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    RequireReady();
    CheckEventName(name);
    CopyToField(request.text, name.CStr());
    RequestOrRaise(REQ_UNSUBSCRIBE);
    Library().subscriptions.Release(name, request.handleArgument);
}

void VARNEL_CDECL VN_LIST_SUBSCR(hostabi::ParamBlock*) {
    host::HostReturnString(Library().subscriptions.Listing());
}

void VARNEL_CDECL VN_DISCONNECT(hostabi::ParamBlock* params) {
    RequireReady();
    RequestBlock& request = Library().request;
    request.handle = hostabi::Arg(params, 0)->intValue;
    request.handleArgument = request.handle;
    RequestOrRaise(REQ_DISCONNECT);
    LibraryState& state = Library();
    state.subscriptions.Forget(request.handleArgument);
    SetLossCommand(request.handleArgument, AnsiString());
}

void VARNEL_CDECL VN_ONLOST(hostabi::ParamBlock* params) {
    RequestBlock& request = Library().request;
    request.handle = hostabi::Arg(params, 0)->intValue;
    request.handleArgument = request.handle;
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    RequireReady();
    if (!commandTemplate.IsEmpty()) {
        CheckTemplate(commandTemplate);
    }
    RequestOrRaise(REQ_CHECK);
    if (!SetLossCommand(request.handleArgument, commandTemplate)) {
        host::HostRaiseError(msg::kNotEnoughMemory);
    }
}
