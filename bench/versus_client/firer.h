#pragma once
// The firing process that both clients are measured against: this program started
// again with --firer, holding its own attachment through Firebird's client. A
// request names an event and a number of transactions; each executes
// POST_EVENTS(name, 1) and commits, one after the other, and the reply gives the
// time just before the first and the last commit call.

#include <string>

#include "common.h"
#include "testbed/server_config.h"

namespace bench {

struct FireResult {
    Clock::time_point firstCommit;
    Clock::time_point lastCommit;
    Clock::time_point end;  // the last commit returned
};

class Firer {
public:
    bool Start(const std::string& prefix, std::string* error);
    bool Send(const std::string& eventName, int commits);
    // True when the reply to the last request is waiting.
    bool ReplyReady() { return process_.Readable(0); }
    bool Reply(FireResult* result, std::string* error);

private:
    ChildProcess process_;
};

// The firing process's main.
int FirerMain(const varnel_test::TestServerConfig& server);

}  // namespace bench
