#pragma once
// The op_connect handshake that opens every main connection: the client offers
// protocol version 10 and names the database and its user, the server answers
// op_accept.

#include <cstdint>

#include "common/ansi_string.h"
#include "wire/wire_stream.h"

// Sends op_connect for databasePath on the connected stream and reads the reply.
// True for op_accept (its version, architecture and type are read and ignored);
// false with errorText "Unable to get a host name.", "Unable to get a user name." or
// "Unable to get response." (any other reply, or none).
bool Handshake(CWireStream& stream, const AnsiString& databasePath);

// Builds the user identification block of op_connect in storage (capacity bytes):
// CNCT_user, CNCT_host and an empty CNCT_user_verification. Returns its length.
// Names longer than 255 bytes are cut to what their length byte can say.
int32_t BuildUserIdentification(uint8_t* storage, int32_t capacity, const AnsiString& userName,
                                const AnsiString& hostName);

// Capacity of the user identification block, and of each name buffer.
constexpr int32_t kUserIdentificationCapacity = 512;
constexpr uint32_t kNameBufferSize = 64;
