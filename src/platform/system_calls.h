#pragma once
// Checkpoints in front of the system calls of the platform layer, so that a test can
// make the nth call of a kind fail as the system would fail it and watch what the
// code above does about it. In normal use nothing is armed and every call goes
// through. Tests arm them on the POSIX build; the Windows build has no checkpoints.

namespace platform {

enum class SystemCall : int {
    kSocket,      // creating a socket
    kConnect,     // connecting it
    kSend,        // one send
    kReceive,     // one receive
    kShutdown,    // shutting a socket down (either form)
    kResolve,     // resolving a host name
    kThread,      // starting a thread
    kEvent,       // creating an event
    kWindowProc,  // replacing a window procedure
    kCount,
};

// Makes the nth call of `call` from now on fail (1: the next one); 0 disarms it.
// Every other call goes through.
void FailSystemCall(SystemCall call, int nth);
// Disarms every checkpoint and restarts the counts.
void ResetSystemCalls();
// The calls of that kind since the last reset (failed ones included).
int SystemCallCount(SystemCall call);

// For the platform's own sources: counts the call and tells whether it is to fail.
bool SystemCallFails(SystemCall call);

}  // namespace platform
