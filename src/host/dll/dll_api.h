#pragma once
// Varnel.dll: the library for a program that calls a DLL's functions directly (the
// desktop language's DECLARE) and binds a method to a window message (BINDEVENT).
// The same commands, request channel, connections and listeners as Varnel.fll; only
// the front end differs:
// - texts are pointers to NUL-terminated ANSI text, integers 32-bit values;
// - a failure returns -1 and leaves its text for VnLastError (the same checks and
//   messages, in the same order, as the host functions of Varnel.fll);
// - firings are not run as commands: a new delivery posts the program's message to
//   the program's window (wParam the connection's handle, lParam a sequence number),
//   and the program takes the waiting firings with VnTakeFiring until it returns 0;
// - every function must be called on the thread that loaded the library.
// See docs/declare-interface.md.

#include <cstdint>

#include "platform/abi.h"

#define VARNEL_DLL_API extern "C" VARNEL_EXPORT

// A new connection's handle, or -1. Port 0 means 3050.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnConnect(const char* host, const char* database,
                                                const char* user, const char* password,
                                                int32_t port);
// The VN_STRINGCONNECT keys: server, database, user/uid, password/pwd, port,
// wirecrypt, authclient, wirecryptplugin, connecttimeout, timeout, reconnect.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnConnectString(const char* connection);
// 1, or -1.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnSubscribe(int32_t handle, const char* eventName);
VARNEL_DLL_API int32_t VARNEL_STDCALL VnUnsubscribe(int32_t handle, const char* eventName);
VARNEL_DLL_API int32_t VARNEL_STDCALL VnDisconnect(int32_t handle);
// Copies the listing (one line per event name: the name and a line feed) into
// buffer, cut to size - 1 bytes and always terminated; returns the size the whole
// listing needs (its length + 1), or -1 for a null buffer.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnListSubscriptions(char* buffer, int32_t size);
// The text of the last failure, copied as VnListSubscriptions copies; empty after a
// call that succeeded.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnLastError(char* buffer, int32_t size);
// Where a new delivery is announced: PostMessage(window, message, handle, sequence).
// A window of 0 announces nothing (the program may poll VnTakeFiring). Returns 1.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnSetNotify(intptr_t window, uint32_t message);
// Takes the oldest waiting firing: its connection into *handle, its event name into
// name (as VnListSubscriptions copies), and returns its count (all firings of that
// name on that connection since they were last taken). 0 when none waits, -1 for a
// null pointer.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnTakeFiring(int32_t* handle, char* name, int32_t size);
// Takes the oldest loss of a connection's events (the event connection could not be
// made again, or the connection to the server is gone): its handle into *handle, the
// reason into reason. 1 when one was taken, 0 when none waits, -1 for a null pointer.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnTakeLoss(int32_t* handle, char* reason, int32_t size);
// Takes the oldest restore of a lost connection (it is back with every subscription):
// its handle into *handle, a text that says after how long into text; returns as
// VnTakeLoss does.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnTakeRestore(int32_t* handle, char* text, int32_t size);
// The library's version ("1.0.0"), copied as VnListSubscriptions copies; -1 for a
// null buffer. Starts nothing and, like VnLastError, leaves the last error alone.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnVersion(char* buffer, int32_t size);
// Disconnects everything and stops the library's threads; call it before unloading
// the DLL. A later call starts it again. Returns 1.
VARNEL_DLL_API int32_t VARNEL_STDCALL VnUnload();
