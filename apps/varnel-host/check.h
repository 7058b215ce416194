#pragma once
// varnel-host --check: runs the connection check and prints one line per step.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace varnelhost {

// Checks the connection that `connection` (VN_STRINGCONNECT's keys) describes; with
// an event name and seconds > 0, also waits that long for the event to fire. Prints
//   <step> <ok|FAILED|skipped> <time> ms  <what it found>
// per step (a failed step adds an "advice:" line), then "result: ..." Returns the
// exit status: 0 when every step passed, 1 otherwise. When the string has neither
// password= nor pwd=, the password is what askPassword gives for the user (if it gives
// one), so that it need not stand on a command line.
using PasswordSource = std::function<bool(const std::string& user, std::string* password)>;
int RunCheck(const std::string& connection, const std::string& eventName, uint32_t seconds,
             std::ostream& out, const PasswordSource& askPassword = nullptr);

}  // namespace varnelhost
