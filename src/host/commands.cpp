#include "host/commands.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "host/event_delivery.h"
#include "host/library.h"
#include "messages/messages.h"
#include "messages/texts.h"
#include "platform/text.h"
#include "wire/name_list.h"

namespace {

[[noreturn]] void Fail(const AnsiString& text, bool answered = false) {
    throw CommandFailed{text, answered};
}

[[noreturn]] void FailWithLimit(const char* format, size_t limit) {
    Fail(FormatText(format, static_cast<long>(limit)));
}

void CheckEventName(const AnsiString& name) {
    if (name.IsEmpty()) {
        Fail(msg::kEventNameEmpty);
    }
    if (name.Length() > kMaxEventName) {
        FailWithLimit(msg::kEventNameTooLong, kMaxEventName);
    }
}

void CheckTemplate(const AnsiString& commandTemplate) {
    if (commandTemplate.Length() > kMaxTemplate) {
        FailWithLimit(msg::kTemplateTooLong, kMaxTemplate);
    }
    if (platform::FindText(commandTemplate.CStr(), kMsgKeyword) < 0) {
        Fail(FormatText(msg::kTemplateWithoutKeyword, kMsgKeyword));
    }
}

// Makes the request written in the block; throws the worker's text unless it
// answered 1.
void Request(uint8_t command) {
    RequestBlock& request = Library().request;
    request.command = command;
    MakeRequest();
    if (request.handle != 1) {
        Fail(request.text, true);
    }
}

void PrepareHandleRequest(int32_t handle) {
    RequestBlock& request = Library().request;
    request.handle = handle;
    request.handleArgument = handle;
}

// Sends the connect written in the block; returns the new handle.
int32_t FinishConnect() {
    RequestBlock& request = Library().request;
    MakeRequest();
    if (request.handle == -1) {
        Fail(request.text, true);
    }
    return request.handle;
}

// Checks the four texts and the port, and strips a leading server part from the
// database path.
void CheckConnect(ConnectSettings& settings) {
    const AnsiString& host = settings.host;
    AnsiString& database = settings.database;
    if (host.IsEmpty()) {
        Fail(msg::kHostNameEmpty);
    }
    if (host.Length() > kMaxHost) {
        FailWithLimit(msg::kHostNameTooLong, kMaxHost);
    }
    if (database.IsEmpty()) {
        Fail(msg::kDatabaseNameEmpty);
    }
    // A path of the form \\server\path loses its server part; the host argument
    // names the server.
    if (database.Length() >= 2 && database[0] == '\\' && database[1] == '\\') {
        if (database.Length() < 3) {
            Fail(msg::kWrongDatabaseName);
        }
        const std::ptrdiff_t slash = platform::FindText(database.CStr() + 3, "\\");
        if (slash < 0) {
            Fail(msg::kWrongDatabaseName);
        }
        database = AnsiString(database.CStr() + 3 + slash + 1);
        if (database.IsEmpty()) {
            Fail(msg::kDatabaseNameEmpty);
        }
    }
    if (database.Length() > kMaxDatabase) {
        FailWithLimit(msg::kDatabaseNameTooLong, kMaxDatabase);
    }
    if (settings.user.Length() > kMaxUser) {
        FailWithLimit(msg::kUserNameTooLong, kMaxUser);
    }
    if (settings.password.Length() > kMaxPassword) {
        FailWithLimit(msg::kPasswordTooLong, kMaxPassword);
    }
    if (settings.port < 1 || settings.port > 65535) {
        Fail(msg::kPortOutOfRange);
    }
}

// Writes REQ_CONNECT into the request block and sends it; returns the new handle.
int32_t RequestConnect(const ConnectSettings& settings) {
    RequestBlock& request = Library().request;
    request.command = REQ_CONNECT;
    request.port = settings.port;
    request.options = settings.options;
    CopyToField(request.text, settings.host.CStr());
    CopyToField(request.user, settings.user.CStr());
    CopyToField(request.password, settings.password.CStr());
    CopyToField(request.database, settings.database.CStr());
    // The worker takes the password out of the block and wipes it there.
    return FinishConnect();
}

// Registers (or, with an empty template, removes) a notice command of a connection.
bool StoreNoticeCommand(GrowArray<NoticeCommand>& commands, int32_t connection,
                        const AnsiString& commandTemplate) {
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
    return commandTemplate.IsEmpty() || commands.Append(NoticeCommand{connection, commandTemplate});
}

}  // namespace

void RequireReady() {
    if (!Library().ready) {
        Fail(msg::kNotInitialized);
    }
}

bool FindConnectionValue(const AnsiString& connectionString, const char* key, AnsiString* value) {
    AnsiString lowered(connectionString.CStr());
    platform::LowerCaseInPlace(lowered.Data());
    const char* text = lowered.CStr();
    const size_t keyLength = std::strlen(key);
    // A key counts only where a key can stand: at the start or right after a ";",
    // blanks before it skipped. A value runs to the next ";", so no value can hold
    // another key. ";" and blanks are never part of a multibyte character, so the
    // bytes can be scanned as they are.
    for (size_t start = 0;;) {
        size_t at = start;
        while (text[at] == ' ' || text[at] == '\t') {
            ++at;
        }
        const char* semicolon = std::strchr(text + start, ';');
        const size_t end =
            semicolon != nullptr ? static_cast<size_t>(semicolon - text) : lowered.Length();
        if (end - at >= keyLength && std::strncmp(text + at, key, keyLength) == 0) {
            *value = AnsiString(connectionString.CStr() + at + keyLength, end - at - keyLength);
            return true;
        }
        if (semicolon == nullptr) {
            return false;
        }
        start = end + 1;
    }
}

int32_t ParsePortText(const AnsiString& text) {
    const char* p = text.CStr();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) {
            value = static_cast<int64_t>(INT32_MAX) + 1;  // saturate, as strtol does
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

int32_t ConnectCommand(const AnsiString& host, const AnsiString& database, const AnsiString& user,
                       const AnsiString& password, int32_t port) {
    ConnectSettings settings{host, database, user, password, port, LoginOptions()};
    CheckConnect(settings);
    return RequestConnect(settings);
}

ConnectSettings ReadConnectionString(const AnsiString& connection) {
    ConnectSettings settings;
    AnsiString port;
    if (!FindConnectionValue(connection, "database=", &settings.database)) {
        Fail(msg::kDatabaseNameNotFound);
    }
    if (!FindConnectionValue(connection, "server=", &settings.host)) {
        Fail(msg::kServerNameNotFound);
    }
    if (!FindConnectionValue(connection, "uid=", &settings.user) &&
        !FindConnectionValue(connection, "user=", &settings.user)) {
        Fail(msg::kUserNameNotFound);
    }
    if (!FindConnectionValue(connection, "password=", &settings.password)) {
        FindConnectionValue(connection, "pwd=", &settings.password);
    }
    const bool hasPort = FindConnectionValue(connection, "port=", &port);
    settings.port = hasPort && !port.IsEmpty() ? ParsePortText(port) : kDefaultPort;
    CheckConnect(settings);
    // The login's keys come last, so that the older checks keep their order.
    LoginOptions& login = settings.options.login;
    AnsiString value;
    if (FindConnectionValue(connection, "wirecrypt=", &value) &&
        !ParseWireCrypt(value, &login.wireCrypt)) {
        Fail(msg::kUnknownWireCrypt);
    }
    AnsiString unknown;
    if (FindConnectionValue(connection, "authclient=", &value) &&
        !ParseAuthPlugins(value, &login.plugins, &unknown)) {
        Fail(FormatText(msg::kUnknownAuthPlugin, unknown.UpToFirstZero().CStr()));
    }
    if (FindConnectionValue(connection, "wirecryptplugin=", &value) &&
        !ParseCipherList(value, &login.ciphers, &unknown)) {
        Fail(FormatText(msg::kUnknownCipher, unknown.UpToFirstZero().CStr()));
    }
    if (FindConnectionValue(connection, "connecttimeout=", &value)) {
        const int32_t seconds = ParsePortText(value);
        if (seconds < 1 || seconds > 3600) {
            Fail(msg::kBadConnectTimeout);
        }
        login.connectTimeoutMs = static_cast<uint32_t>(seconds) * 1000u;
    }
    if (FindConnectionValue(connection, "timeout=", &value)) {
        const int32_t seconds = ParsePortText(value);
        if (seconds < 1 || seconds > 3600) {
            Fail(msg::kBadTimeout);
        }
        settings.options.timeoutMs = static_cast<uint32_t>(seconds) * 1000u;
    }
    if (FindConnectionValue(connection, "reconnect=", &value)) {
        const int32_t seconds = ParsePortText(value);
        if (SameNameIgnoringCase(value.Data(), value.Length(), "No")) {
            settings.options.reconnectCeilingMs = 0;
        } else if (seconds >= 1 && seconds <= 3600) {
            settings.options.reconnectCeilingMs = static_cast<uint32_t>(seconds) * 1000u;
        } else {
            Fail(msg::kBadReconnect);
        }
    }
    return settings;
}

int32_t StringConnectCommand(const AnsiString& connection) {
    return RequestConnect(ReadConnectionString(connection));
}

void SubscribeCommand(int32_t handle, const AnsiString& name, const AnsiString& commandTemplate,
                      bool checkTemplate) {
    PrepareHandleRequest(handle);
    CheckEventName(name);
    if (checkTemplate) {
        CheckTemplate(commandTemplate);
    }
    SubscriptionTable& table = Library().subscriptions;
    if (!table.HasRoom(name)) {
        FailWithLimit(msg::kTooManyEventNames, SubscriptionTable::kRecords);
    }
    CopyToField(Library().request.text, name.CStr());
    Request(REQ_SUBSCRIBE);
    if (!table.Store(name, commandTemplate, handle)) {
        Fail(msg::kNotEnoughMemory);
    }
}

void UnsubscribeCommand(int32_t handle, const AnsiString& name) {
    PrepareHandleRequest(handle);
    CheckEventName(name);
    CopyToField(Library().request.text, name.CStr());
    Request(REQ_UNSUBSCRIBE);
    Library().subscriptions.Release(name, handle);
}

void DisconnectCommand(int32_t handle) {
    PrepareHandleRequest(handle);
    Request(REQ_DISCONNECT);
    LibraryState& state = Library();
    state.subscriptions.Forget(handle);
    StoreNoticeCommand(state.lossCommands, handle, AnsiString());
    StoreNoticeCommand(state.restoreCommands, handle, AnsiString());
    // Its listener has ended: what still waits of it would reach the next connection
    // that gets the same handle.
    state.eventRing.Forget(handle);
}

void SetNoticeCommand(DeliveryKind kind, int32_t handle, const AnsiString& commandTemplate) {
    PrepareHandleRequest(handle);
    if (!commandTemplate.IsEmpty()) {
        CheckTemplate(commandTemplate);
    }
    Request(REQ_CHECK);
    LibraryState& state = Library();
    if (!StoreNoticeCommand(
            kind == DeliveryKind::kLoss ? state.lossCommands : state.restoreCommands, handle,
            commandTemplate)) {
        Fail(msg::kNotEnoughMemory);
    }
}
