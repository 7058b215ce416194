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
inline constexpr char kUnknownWireCrypt[] =
    "Wire encryption must be Required, Enabled or Disabled.";
inline constexpr char kUnknownAuthPlugin[] =
    "Unknown authentication method: %s. Srp256, Srp and Legacy_Auth are known.";

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
inline constexpr char kReportCutOff[] =
    "The server stopped sending part-way through an event report.";
inline constexpr char kEventsLost[] =
    "The event connection was lost and could not be made again: %s";
inline constexpr char kConnectionLost[] = "The connection to the server was lost: %s";

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
inline constexpr char kCannotEncrypt[] =
    "Wire encryption is required, but the server cannot encrypt this connection.";
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

// The server's error codes (see messages.cpp for the table).
inline constexpr char kNoMessageForCode[] = "No message for error code %ld found.";

}  // namespace msg
