#pragma once
// Every text that reaches the user, in one place. The host shows them unchanged.
// A format takes one argument where its %d, %ld, %lu or %s stands.

namespace msg {

// Argument checks of the host functions.
inline constexpr char kNotInitialized[] = "The library is not initialized.";
inline constexpr char kHostNameEmpty[] = "Host name is empty.";
inline constexpr char kHostNameTooLong[] = "Host name is too long. %d chars is max.";
inline constexpr char kDatabaseNameEmpty[] = "Database name is empty.";
inline constexpr char kWrongDatabaseName[] = "Wrong database name.";
inline constexpr char kDatabaseNameTooLong[] = "Database name is too long. %d chars is max.";
inline constexpr char kUserNameTooLong[] = "User name is too long. %d chars is max.";
inline constexpr char kPasswordTooLong[] = "Password is too long. %d chars is max.";
inline constexpr char kDatabaseNameNotFound[] = "Database name is not found.";
inline constexpr char kServerNameNotFound[] = "Server name is not found.";
inline constexpr char kUserNameNotFound[] = "User name is not found.";
inline constexpr char kEventNameEmpty[] = "Event name is empty.";
inline constexpr char kEventNameTooLong[] = "Event name is too long. %d chars is max.";
inline constexpr char kTemplateTooLong[] = "Function name is too long. %d chars is max.";
inline constexpr char kTemplateWithoutKeyword[] = "Function does not have %s keyword.";
inline constexpr char kTooManyEventNames[] = "Too many event names. %d is max.";
inline constexpr char kPortOutOfRange[] = "Port must be 1 to 65535.";
inline constexpr char kBadConnectTimeout[] = "Connect time-out must be 1 to 3600 seconds.";
inline constexpr char kBadTimeout[] = "Time-out must be 1 to 3600 seconds.";
inline constexpr char kBadReconnect[] = "Reconnect must be No or 1 to 3600 seconds.";
inline constexpr char kUnknownWireCrypt[] =
    "Wire encryption must be Required, Enabled or Disabled.";
inline constexpr char kUnknownAuthPlugin[] =
    "Unknown authentication method: %s. Srp256, Srp and Legacy_Auth are known.";
inline constexpr char kUnknownCipher[] =
    "Unknown wire encryption method: %s. ChaCha64, ChaCha and Arc4 are known.";

// Varnel.dll's own.
inline constexpr char kWrongThread[] =
    "Varnel.dll may only be called on the thread that loaded it.";
inline constexpr char kNullArgument[] = "A null pointer was passed for %s.";

// Failures that the dispatch entry catches itself.
inline constexpr char kNotEnoughMemory[] = "Not enough memory.";
inline constexpr char kLibraryFailed[] = "The library failed unexpectedly.";

// The worker's answers.
inline constexpr char kWrongHandle[] = "The connection handle is wrong.";
inline constexpr char kNoConnection[] = "There is no connection to database.";
inline constexpr char kAlreadyDisconnected[] = "Database already disconnected.";
inline constexpr char kNotSubscribed[] = "The event is not subscribed on this connection.";
inline constexpr char kCannotCreate[] = "Cannot create database object.";
inline constexpr char kCannotAddToPool[] = "Cannot add the database to the pool.";
inline constexpr char kRequestFailed[] = "The request failed: not enough memory.";

// The connection and its requests.
inline constexpr char kUnableToGetResponse[] = "Unable to get response.";
inline constexpr char kNoEventAddress[] = "The server gave no usable address for events.";
inline constexpr char kNoComputerName[] = "Unable to get a host name.";
inline constexpr char kNoUserName[] = "Unable to get a user name.";
inline constexpr char kListenerFailed[] = "Unable to start listening for events.";
inline constexpr char kConnectTimedOut[] =
    "The server did not answer in time (connect time-out: %ld s).";
inline constexpr char kServerSilent[] = "The server did not answer in time (time-out: %ld s).";
inline constexpr char kReportCutOff[] =
    "The server stopped sending part-way through an event report.";
inline constexpr char kUnreadableReport[] = "The server sent an event report that cannot be read.";
inline constexpr char kEventsLost[] =
    "The event connection was lost and could not be made again: %s";
inline constexpr char kConnectionLost[] = "The connection to the server was lost: %s";
inline constexpr char kConnectingAgain[] = " Connecting again.";
inline constexpr char kBeingRestored[] =
    "The connection to the server is being made again; try again when it is back.";
inline constexpr char kRestored[] =
    "The connection is back after %.1f s with every subscription; events that fired "
    "meanwhile could not be counted: refresh what you show.";

// Logging in and encrypting the connection.
inline constexpr char kProtocolsRefused[] =
    "The server refused the connection: it accepts none of the protocol versions offered (%s).";
inline constexpr char kNoCommonAuthPlugin[] =
    "The server accepts none of the authentication methods offered (%s).";
inline constexpr char kUnusableLoginMessage[] =
    "The server sent a login message that cannot be read.";
inline constexpr char kUnknownServerPlugin[] =
    "The server asks for the authentication method %s, which was not offered.";
inline constexpr char kNoCommonCipher[] =
    "Wire encryption is required, but the server offers no method this library has (%s).";
inline constexpr char kNoAllowedCipher[] =
    "Wire encryption is required, but the server offers none of the methods that "
    "wirecryptplugin= allows (it offers %s).";
inline constexpr char kCannotEncrypt[] =
    "Wire encryption is required, but the server cannot encrypt this connection.";
inline constexpr char kOnlyLegacyLogin[] =
    "Wire encryption is required, but the only authentication method offered, "
    "Legacy_Auth, cannot encrypt a connection: offer Srp256 or Srp (authclient=).";
inline constexpr char kClearAfterCrypt[] =
    "The server sent data that was not encrypted after the encryption started.";
inline constexpr char kCipherExhausted[] =
    "The connection has carried as much data as its encryption allows and was closed "
    "before the cipher would repeat itself.";
inline constexpr char kNoRandomSource[] = "Unable to get random numbers for the login.";

// The socket and the stream.
inline constexpr char kSocketServiceFailed[] = "WSAStartup() function is failed";
inline constexpr char kSocketFailed[] = "Socket() function is failed.";
inline constexpr char kCannotResolve[] = "Unable to solve the address.";
inline constexpr char kCannotConnect[] = "Unable to connect.";
inline constexpr char kClosedByServer[] = "Connection closed by the server.";
inline constexpr char kReceiveFailed[] = "Unable to receive data from the server.";
inline constexpr char kSendFailed[] = "Unable to send data to the server.";
inline constexpr char kLengthRefused[] =
    "The server sent a length of %lu; at most %ld is accepted.";
inline constexpr char kInvalidLength[] = "The server sent an invalid length of %ld.";
inline constexpr char kStatusVectorTooLong[] =
    "The server sent a status vector of more than %d arguments.";

// What the system said about a failure of the network, in brackets before the full
// stop of a text that is the library's own (a loss's reason, the connection check).
inline constexpr char kWithSystemReason[] = "%s (%s).";
inline constexpr char kSystemRefused[] = "connection refused";
inline constexpr char kSystemTimedOut[] = "timed out";
inline constexpr char kSystemUnreachable[] = "network unreachable";
inline constexpr char kSystemReset[] = "connection reset";
inline constexpr char kSystemNameNotFound[] = "name not found";
inline constexpr char kSystemLookupFailed[] = "name lookup failed, error %ld";
inline constexpr char kSystemOther[] = "system error %ld";

// The connection check, step by step: what each found, and after a failure what to
// change. A format here may take several arguments, in the order written.
inline constexpr char kCheckResolved[] = "%s: %s";
inline constexpr char kCheckNoAddress[] = "\"%s\" does not resolve to any address (%s).";
inline constexpr char kCheckNoAddressAdvice[] =
    "Check the server's name, or give its IP address instead.";
inline constexpr char kCheckConnected[] = "%s port %ld";
inline constexpr char kCheckConnectedAfter[] = "%s port %ld; not reached first: %s";
inline constexpr char kCheckNotConnected[] = "Cannot connect to port %ld at %s.";
// An address that was not reached, and what the system said.
inline constexpr char kCheckAddressFailed[] = "%s (%s)";
inline constexpr char kCheckNotConnectedAdvice[] =
    "Check that the server runs and listens on this port (RemoteServicePort in "
    "firebird.conf, 3050 unless set), and that no firewall between here and the server "
    "blocks it.";
inline constexpr char kCheckLoginModern[] = "protocol %ld, %s, %s";
inline constexpr char kCheckLoginLegacy[] =
    "protocol %ld, user name and password hash in the attach request, %s";
inline constexpr char kCheckEncrypted[] = "wire encrypted with %s";
inline constexpr char kCheckNotEncrypted[] = "not encrypted";
inline constexpr char kCheckLoginAdvice[] =
    "Check the user name and password, and that the server's AuthServer and WireCrypt "
    "settings allow a method this client offers (authclient=, wirecrypt=).";
inline constexpr char kCheckAttached[] = "server version %s";
inline constexpr char kCheckAttachAdvice[] =
    "Check the database path or alias (databases.conf on the server), the user name and "
    "password, and the user's rights on the database.";
inline constexpr char kCheckEventPort[] =
    "the server listens for the event connection on port %ld (it names its address %s)";
inline constexpr char kCheckEventPortAdvice[] =
    "The server did not open a port for the event connection; its log may say why.";
inline constexpr char kCheckNoEventConnection[] =
    "Cannot connect to %s port %ld (%s), where the server listens for the event connection.";
inline constexpr char kCheckNoEventConnectionAdvice[] =
    "The server's event port is unreachable from here, although its main port is not. "
    "The server picks a random event port unless firebird.conf sets RemoteAuxPort: set "
    "RemoteAuxPort to a fixed port, restart the server, and let the firewall on the server "
    "(and any router or NAT between here and it) allow that port as it allows the main "
    "port.";
inline constexpr char kCheckQueued[] = "%s queued; the server's first report came in %.1f ms";
inline constexpr char kCheckNoFirstReport[] =
    "The server took the request for %s, but its first report did not come over the "
    "event connection within %ld s.";
inline constexpr char kCheckNoFirstReportAdvice[] =
    "Something between here and the server lets the event connection open but does not "
    "carry its data: check the firewalls and any NAT for the event port.";
inline constexpr char kCheckFired[] = "%s fired %ld time(s), after %.1f s";
inline constexpr char kCheckNotFired[] = "%s did not fire within %ld s.";
inline constexpr char kCheckNotFiredAdvice[] =
    "Fire it while the check waits: POST_EVENT '%s' in a trigger or procedure, then "
    "commit.";

// The server's error codes (see messages.cpp for the table).
inline constexpr char kNoMessageForCode[] = "No message for error code %ld found.";

}  // namespace msg
