// VN_CONNECT and VN_STRINGCONNECT: argument checks and the connect request.
#include <climits>
#include <cstdio>
#include <cstring>

#include "host/host_api.h"
#include "host/host_functions.h"
#include "host/library.h"
#include "messages/texts.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxHost = 64;
constexpr size_t kMaxDatabase = 256;
constexpr size_t kMaxUser = 64;
constexpr size_t kMaxPassword = 64;

[[noreturn]] void RaiseWithLimit(const char* format, size_t limit) {
    char message[128];
    std::snprintf(message, sizeof message, format, static_cast<int>(limit));
    host::HostRaiseError(message);
}

void RequireReady() {
    if (!Library().ready) {
        host::HostRaiseError(msg::kNotInitialized);
    }
}

// Returns the connect result to the host, then raises the worker's message when the
// connect failed: the host sees -1 as the result and the error.
void FinishConnect() {
    RequestBlock& request = Library().request;
    host::HostReturnInteger(request.handle, 3);
    if (request.handle == -1) {
        host::HostRaiseError(request.text);
    }
}

}  // namespace

bool FindConnectionValue(const AnsiString& connectionString, const char* key, AnsiString* value) {
    AnsiString lowered(connectionString.CStr());
    platform::LowerCaseInPlace(lowered.Data());
    const std::ptrdiff_t p = platform::FindText(lowered.CStr(), key);
    if (p < 0) {
        return false;
    }
    const std::ptrdiff_t fromKey = platform::FindText(lowered.CStr() + p, ";");
    const size_t start = static_cast<size_t>(p) + std::strlen(key);
    const size_t end = fromKey < 0 ? lowered.Length() : static_cast<size_t>(p + fromKey);
    *value = end > start ? AnsiString(connectionString.CStr() + start, end - start) : AnsiString();
    return true;
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

void PrepareConnectRequest(const AnsiString& host, AnsiString database, const AnsiString& user,
                           const AnsiString& password) {
    if (host.IsEmpty()) {
        host::HostRaiseError(msg::kHostNameEmpty);
    }
    if (host.Length() > kMaxHost) {
        RaiseWithLimit(msg::kHostNameTooLong, kMaxHost);
    }
    if (database.IsEmpty()) {
        host::HostRaiseError(msg::kDatabaseNameEmpty);
    }
    // A path of the form \\server\path loses its server part; the host argument
    // names the server.
    if (database.Length() >= 2 && database[0] == '\\' && database[1] == '\\') {
        if (database.Length() < 3) {
            host::HostRaiseError(msg::kWrongDatabaseName);
        }
        const std::ptrdiff_t slash = platform::FindText(database.CStr() + 3, "\\");
        if (slash < 0) {
            host::HostRaiseError(msg::kWrongDatabaseName);
        }
        database = AnsiString(database.CStr() + 3 + slash + 1);
        if (database.IsEmpty()) {
            host::HostRaiseError(msg::kDatabaseNameEmpty);
        }
    }
    if (database.Length() > kMaxDatabase) {
        RaiseWithLimit(msg::kDatabaseNameTooLong, kMaxDatabase);
    }
    if (user.Length() > kMaxUser) {
        RaiseWithLimit(msg::kUserNameTooLong, kMaxUser);
    }
    if (password.Length() > kMaxPassword) {
        RaiseWithLimit(msg::kPasswordTooLong, kMaxPassword);
    }
    RequestBlock& request = Library().request;
    if (request.port < 1 || request.port > 65535) {
        host::HostRaiseError(msg::kPortOutOfRange);
    }
    request.command = REQ_CONNECT;
    CopyToField(request.text, host.CStr());
    CopyToField(request.user, user.CStr());
    CopyToField(request.password, password.CStr());
    CopyToField(request.database, database.CStr());
}

void VARNEL_CDECL VN_CONNECT(hostabi::ParamBlock* params) {
    AnsiString args[4];
    for (int i = 0; i < 4; ++i) {
        args[i] = host::PrepareCharacterArgument(*hostabi::Arg(params, i));
    }
    RequireReady();
    int32_t port = kDefaultPort;
    if (params->count > 4) {
        port = hostabi::Arg(params, 4)->intValue;  // a copy: the record is packed
    }
    RequestBlock& request = Library().request;
    request.port = port;
    request.login = LoginOptions();
    PrepareConnectRequest(args[0], args[1], args[2], args[3]);
    MakeRequest();
    FinishConnect();
}

void VARNEL_CDECL VN_STRINGCONNECT(hostabi::ParamBlock* params) {
    const AnsiString connection = host::PrepareCharacterArgument(*hostabi::Arg(params, 0));
    RequireReady();
    AnsiString database, server, user, password, port;
    if (!FindConnectionValue(connection, "database=", &database)) {
        host::HostRaiseError(msg::kDatabaseNameNotFound);
    }
    if (!FindConnectionValue(connection, "server=", &server)) {
        host::HostRaiseError(msg::kServerNameNotFound);
    }
    if (!FindConnectionValue(connection, "uid=", &user) &&
        !FindConnectionValue(connection, "user=", &user)) {
        host::HostRaiseError(msg::kUserNameNotFound);
    }
    if (!FindConnectionValue(connection, "password=", &password)) {
        FindConnectionValue(connection, "pwd=", &password);
    }
    const bool hasPort = FindConnectionValue(connection, "port=", &port);
    RequestBlock& request = Library().request;
    request.port = hasPort && !port.IsEmpty() ? ParsePortText(port) : kDefaultPort;
    PrepareConnectRequest(server, database, user, password);
    // The login's keys come last, so that the older checks keep their order.
    request.login = LoginOptions();
    AnsiString value;
    if (FindConnectionValue(connection, "wirecrypt=", &value) &&
        !ParseWireCrypt(value, &request.login.wireCrypt)) {
        host::HostRaiseError(msg::kUnknownWireCrypt);
    }
    AnsiString unknown;
    if (FindConnectionValue(connection, "authclient=", &value) &&
        !ParseAuthPlugins(value, &request.login.plugins, &unknown)) {
        char message[160];
        std::snprintf(message, sizeof message, msg::kUnknownAuthPlugin,
                      unknown.UpToFirstZero().CStr());
        host::HostRaiseError(message);
    }
    if (FindConnectionValue(connection, "connecttimeout=", &value)) {
        const int32_t seconds = ParsePortText(value);
        if (seconds < 1 || seconds > 3600) {
            host::HostRaiseError(msg::kBadConnectTimeout);
        }
        request.login.connectTimeoutMs = static_cast<uint32_t>(seconds) * 1000u;
    }
    MakeRequest();
    FinishConnect();
}
