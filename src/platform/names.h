#pragma once
// The computer's name and the user name of the calling process, as the handshake
// sends them. Windows: GetComputerNameA and GetUserNameA. POSIX: the host name and
// the login name of the effective user.

#include <cstdint>

namespace platform {

// Both take a buffer and its size in *size; on success they write the name with a
// terminating zero and set *size to its length without the zero. False when the
// name is not available or does not fit.
bool GetComputerNameText(char* buffer, uint32_t* size);
bool GetUserNameText(char* buffer, uint32_t* size);

}  // namespace platform
