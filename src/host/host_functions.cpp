// The host functions of Varnel.fll: each prepares its arguments as the host hands
// them, runs its command, and turns a failure into a host error.
#include "host/host_functions.h"

#include "common/version.h"
#include "host/commands.h"
#include "host/host_api.h"
#include "host/library.h"

namespace {

// Runs a command as every host function does: with the library started, and a
// failure raised as the host's error. A connect (`returnsHandle`) hands the host its
// handle itself; when the worker refused it, the host sees -1 before the error.
template <class Command>
void Run(Command command, bool returnsHandle = false) {
    try {
        RequireReady();
        command();
    } catch (const CommandFailed& failure) {
        if (returnsHandle && failure.answered) {
            host::HostReturnInteger(-1, 3);
        }
        host::HostRaiseError(failure.text.CStr());
    }
}

void ReturnHandle(int32_t handle) {
    host::HostReturnInteger(handle, 3);
}

// VN_ONLOST and VN_ONRESTORED: the handle and the command template.
void SetNotice(DeliveryKind kind, hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    Run([&] { SetNoticeCommand(kind, handle, commandTemplate); });
}

}  // namespace

void VARNEL_CDECL VN_CONNECT(hostabi::ParamBlock* params) {
    AnsiString args[4];
    for (int i = 0; i < 4; ++i) {
        args[i] = host::PrepareCharacterArgument(*hostabi::Arg(params, i));
    }
    int32_t port = kDefaultPort;
    if (params->count > 4) {
        port = hostabi::Arg(params, 4)->intValue;  // a copy: the record is packed
    }
    Run([&] { ReturnHandle(ConnectCommand(args[0], args[1], args[2], args[3], port)); }, true);
}

void VARNEL_CDECL VN_STRINGCONNECT(hostabi::ParamBlock* params) {
    const AnsiString connection = host::PrepareCharacterArgument(*hostabi::Arg(params, 0));
    Run([&] { ReturnHandle(StringConnectCommand(connection)); }, true);
}

void VARNEL_CDECL VN_SUBSCRIBE(hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 2));
    Run([&] { SubscribeCommand(handle, name, commandTemplate, true); });
}

void VARNEL_CDECL VN_UNSUBSCRIBE(hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    Run([&] { UnsubscribeCommand(handle, name); });
}

void VARNEL_CDECL VN_LIST_SUBSCR(hostabi::ParamBlock*) {
    host::HostReturnString(Library().subscriptions.Listing());
}

void VARNEL_CDECL VN_DISCONNECT(hostabi::ParamBlock* params) {
    Run([&] { DisconnectCommand(hostabi::Arg(params, 0)->intValue); });
}

void VARNEL_CDECL VN_ONLOST(hostabi::ParamBlock* params) {
    SetNotice(DeliveryKind::kLoss, params);
}

void VARNEL_CDECL VN_ONRESTORED(hostabi::ParamBlock* params) {
    SetNotice(DeliveryKind::kRestore, params);
}

void VARNEL_CDECL VN_VERSION(hostabi::ParamBlock*) {
    // Answers before VARNEL_INIT has succeeded too: it needs nothing started.
    host::HostReturnString(AnsiString(varnel::kVersion));
}
