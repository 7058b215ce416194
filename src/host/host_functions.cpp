// The host functions of Varnel.fll: each prepares its arguments as the host hands
// them, runs its command, and turns a failure into a host error.
#include "host/host_functions.h"

#include "common/version.h"
#include "host/commands.h"
#include "host/host_api.h"
#include "host/library.h"

namespace {

[[noreturn]] void Raise(const CommandFailed& failure) {
    host::HostRaiseError(failure.text.CStr());
}

// Connects as `connect` says; the host sees the handle, or -1 and the error.
template <class Connect>
void ConnectAndReturn(Connect connect) {
    try {
        RequireReady();
        host::HostReturnInteger(connect(), 3);
    } catch (const CommandFailed& failure) {
        if (failure.answered) {
            host::HostReturnInteger(-1, 3);
        }
        Raise(failure);
    }
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
    ConnectAndReturn([&] { return ConnectCommand(args[0], args[1], args[2], args[3], port); });
}

void VARNEL_CDECL VN_STRINGCONNECT(hostabi::ParamBlock* params) {
    const AnsiString connection = host::PrepareCharacterArgument(*hostabi::Arg(params, 0));
    ConnectAndReturn([&] { return StringConnectCommand(connection); });
}

void VARNEL_CDECL VN_SUBSCRIBE(hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 2));
    try {
        RequireReady();
        SubscribeCommand(handle, name, commandTemplate, true);
    } catch (const CommandFailed& failure) {
        Raise(failure);
    }
}

void VARNEL_CDECL VN_UNSUBSCRIBE(hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString name = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    try {
        RequireReady();
        UnsubscribeCommand(handle, name);
    } catch (const CommandFailed& failure) {
        Raise(failure);
    }
}

void VARNEL_CDECL VN_LIST_SUBSCR(hostabi::ParamBlock*) {
    host::HostReturnString(Library().subscriptions.Listing());
}

void VARNEL_CDECL VN_DISCONNECT(hostabi::ParamBlock* params) {
    try {
        RequireReady();
        DisconnectCommand(hostabi::Arg(params, 0)->intValue);
    } catch (const CommandFailed& failure) {
        Raise(failure);
    }
}

void VARNEL_CDECL VN_ONLOST(hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    try {
        RequireReady();
        SetNoticeCommand(DeliveryKind::kLoss, handle, commandTemplate);
    } catch (const CommandFailed& failure) {
        Raise(failure);
    }
}

void VARNEL_CDECL VN_ONRESTORED(hostabi::ParamBlock* params) {
    const int32_t handle = hostabi::Arg(params, 0)->intValue;
    const AnsiString commandTemplate = host::PrepareCharacterArgument(*hostabi::Arg(params, 1));
    try {
        RequireReady();
        SetNoticeCommand(DeliveryKind::kRestore, handle, commandTemplate);
    } catch (const CommandFailed& failure) {
        Raise(failure);
    }
}

void VARNEL_CDECL VN_VERSION(hostabi::ParamBlock*) {
    // Answers before VARNEL_INIT has succeeded too: it needs nothing started.
    host::HostReturnString(AnsiString(varnel::kVersion));
}
