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

// The host function table: nine entries in a fixed order.
const hostabi::FunctionTable& HostFunctionTable();

// The entry of the table whose function is `function`, or nullptr.
const hostabi::FunctionEntry* FindTableEntry(hostabi::Function function);

// Looks `key` up in a connection string: the matching ignores case, the value keeps
// its case and runs from the key to the next ";" or the end. When the key is not
// found the value is left as it was.
bool FindConnectionValue(const AnsiString& connectionString, const char* key, AnsiString* value);

// Converts a port text as the connection string gives it: leading white space, an
// optional sign, then digits up to the first non-digit; no digits give 0.
int32_t ParsePortText(const AnsiString& text);

// Checks the four texts, strips a leading server part from the database path and
// writes REQ_CONNECT into the request block (`port` and `login` must be set there
// already, or are set before the request is made). Raises a host error when a check
// fails.
void PrepareConnectRequest(const AnsiString& host, AnsiString database, const AnsiString& user,
                           const AnsiString& password);
