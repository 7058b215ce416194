#pragma once
// The library's host functions and the table through which the host finds them.

#include "common/ansi_string.h"
#include "host/host_abi.h"

void VARNEL_CDECL VARNEL_INIT(hostabi::ParamBlock* params);
void VARNEL_CDECL VARNEL_EXIT(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_LIST_SUBSCR(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_SUBSCRIBE(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_UNSUBSCRIBE(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_STRINGCONNECT(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_CONNECT(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_DISCONNECT(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_ONLOST(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_ONRESTORED(hostabi::ParamBlock* params);
void VARNEL_CDECL VN_VERSION(hostabi::ParamBlock* params);

// The host function table: eleven entries in a fixed order.
const hostabi::FunctionTable& HostFunctionTable();

// The entry of the table whose function is `function`, or nullptr.
const hostabi::FunctionEntry* FindTableEntry(hostabi::Function function);
