#pragma once
// The connection check: the steps of one connection and one event subscription, run
// one at a time so that a user learns which of them fails between this machine and
// the server, and what to change. It opens its own connection (no listener thread,
// no host) and closes it at the end.

#include <cstdint>

#include "common/ansi_string.h"
#include "wire/handshake.h"

struct CheckSettings {
    AnsiString host;
    int32_t port = 3050;
    AnsiString database;
    AnsiString user;
    AnsiString password;
    LoginOptions login;
    // The event to queue; empty: a name that nobody posts.
    AnsiString eventName;
    // With an event name: how long to wait for it to fire (0: not at all).
    uint32_t waitSeconds = 0;
};

enum class CheckOutcome { kPassed, kFailed, kSkipped };

struct CheckStep {
    explicit CheckStep(const char* stepName) : name(stepName) {}
    const char* name;  // one of kCheckSteps
    CheckOutcome outcome = CheckOutcome::kSkipped;
    double ms = 0;      // the step's own time
    AnsiString detail;  // what it found, or why it failed
    AnsiString advice;  // after a failure: what to change, where it is known
};

// The steps in order, by the names scripts read.
constexpr const char* kCheckSteps[] = {"resolve",    "connect",       "login",       "attach",
                                       "event-port", "event-connect", "queue-event", "wait-event"};
constexpr int kCheckStepCount = sizeof kCheckSteps / sizeof kCheckSteps[0];

// The time the server's first report on a queued event may take.
constexpr uint32_t kFirstReportLimitMs = 10000;

class ICheckReport {
public:
    virtual ~ICheckReport() = default;
    // Each step as it ends; after a failure the later steps come as skipped. The
    // wait-event step comes only when an event and a wait are set.
    virtual void Step(const CheckStep& step) = 0;
};

// True when every step passed.
bool RunConnectionCheck(const CheckSettings& settings, ICheckReport& report);
