#pragma once
// Loopback ports for tests that stand in for a server.

#include <cstdint>

namespace varnel_test {

// A listening socket on 127.0.0.1 at *port (0: a free one, written back); -1 when
// that port cannot be had.
int ListenOnLoopback(uint16_t* port);
// A loopback port on which nothing listens (it was free a moment ago).
uint16_t UnusedLoopbackPort();

}  // namespace varnel_test
