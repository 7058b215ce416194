#pragma once
// The library's commands, behind both front ends: the host functions of Varnel.fll
// and the exported functions of Varnel.dll. Each checks its arguments in a fixed
// order and makes its request to the worker. A check that fails, or a request that
// the worker refuses, throws CommandFailed with the text the user reads; each front
// end reports it its own way (a host error, or the last error of the DLL).

#include <cstdint>

#include "channel/connection_options.h"
#include "common/ansi_string.h"
#include "host/event_ring.h"

struct CommandFailed {
    AnsiString text;
    // True when the worker answered (a connect then returns -1 to the host first).
    bool answered = false;
};

// The limits of the texts the commands take.
constexpr size_t kMaxHost = 64;
constexpr size_t kMaxDatabase = 256;
constexpr size_t kMaxUser = 64;
constexpr size_t kMaxPassword = 64;
constexpr size_t kMaxEventName = 64;
constexpr size_t kMaxTemplate = 64;

// Throws "The library is not initialized." unless the request channel runs.
void RequireReady();

// Connects; returns the new handle.
int32_t ConnectCommand(const AnsiString& host, const AnsiString& database, const AnsiString& user,
                       const AnsiString& password, int32_t port);
int32_t StringConnectCommand(const AnsiString& connection);

// What a connection string says, checked as StringConnectCommand checks it (in the
// same order, with the same texts); a database path of the form \\server\path
// loses its server part. Throws CommandFailed.
struct ConnectSettings {
    AnsiString host;
    AnsiString database;
    AnsiString user;
    AnsiString password;
    int32_t port = 0;
    ConnectionOptions options;
};
ConnectSettings ReadConnectionString(const AnsiString& connection);

// Subscribes name on handle with the command template to run (Varnel.fll; checked
// when `checkTemplate`), or with none (Varnel.dll, whose program takes firings).
void SubscribeCommand(int32_t handle, const AnsiString& name, const AnsiString& commandTemplate,
                      bool checkTemplate);
void UnsubscribeCommand(int32_t handle, const AnsiString& name);
void DisconnectCommand(int32_t handle);
// Registers the command that runs when handle's events are lost (kLoss) or when the
// lost connection is back (kRestore); empty removes it.
void SetNoticeCommand(DeliveryKind kind, int32_t handle, const AnsiString& commandTemplate);

// Looks `key` (lower case, with its "=") up in a connection string: at the start or
// right after a ";", blanks before it skipped, in any case; the first such key wins.
// The value keeps its case and runs from the key to the next ";" or the end, not
// trimmed. When the key is not found the value is left as it was.
bool FindConnectionValue(const AnsiString& connectionString, const char* key, AnsiString* value);

// Converts a port text as the connection string gives it: leading white space, an
// optional sign, then digits up to the first non-digit; no digits give 0.
int32_t ParsePortText(const AnsiString& text);
