// varnel-host --check against a scripted server: the line of every step, the step
// that fails and its advice, the exit status. The real servers pass every step in
// tests/integration.

#include "check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/fake_firebird.h"
#include "wire/protocol.h"

namespace {

using namespace varnel_test;

// The step lines' first two words, and the result line.
std::string Outline(const std::string& printed) {
    std::istringstream lines(printed);
    std::string line, outline;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string step, outcome;
        words >> step >> outcome;
        if (step != "check:" && step != "advice:") {
            outline += step + " " + outcome + "\n";
        }
    }
    return outline;
}

TEST(Check, EveryStepItsOutcomeAndTheAdviceForTheEventPort) {
    const char* kAllPass =
        "resolve ok\nconnect ok\nlogin ok\nattach ok\nevent-port ok\nevent-connect ok\n"
        "queue-event ok\n";
    enum Server { kAnswers, kFires, kNoEventPort, kNothingListens, kRefusesName };
    const struct {
        const char* name;
        Server server;
        int status;
        std::string outline;
        std::vector<std::string> printed;  // in this order
    } cases[] = {
        {"every step passes",
         kAnswers,
         0,
         std::string(kAllPass) + "result: every\n",
         {"protocol 10, user name and password hash in the attach request, not encrypted\n",
          "server version LI-V6.3.11.33637 Firebird 3.0\n", "(it names its address 127.0.0.9)\n",
          "  127.0.0.1 port ", "VARNEL_CHECK queued"}},
        {"the event fires while the check waits",
         kFires,
         0,
         std::string(kAllPass) + "wait-event ok\nresult: every\n",
         {"PING fired 2 time(s)"}},
        {"the event port is unreachable",
         kNoEventPort,
         1,
         "resolve ok\nconnect ok\nlogin ok\nattach ok\nevent-port ok\nevent-connect FAILED\n"
         "queue-event skipped\nresult: failed\n",
         {"  Cannot connect to 127.0.0.1 port ",
          " (connection refused), where the server listens for the event connection.\n"
          "               advice: The server's event port is unreachable from here, although "
          "its main port is not. The server picks a random event port unless firebird.conf "
          "sets RemoteAuxPort"}},
        {"nothing listens at the server's port",
         kNothingListens,
         1,
         "resolve ok\nconnect FAILED\nlogin skipped\nattach skipped\nevent-port skipped\n"
         "event-connect skipped\nqueue-event skipped\nresult: failed\n",
         {"  Cannot connect to port ", " at 127.0.0.1 (connection refused).\n",
          "advice: Check that the server runs"}},
        {"a refused connection string",
         kRefusesName,
         1,
         "result: the\n",
         {"the connection string is refused: Database name is not found.\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFirebird fake;
        fake.SetAuxiliaryReply(AuxiliaryReply{{}, {}, c.server != kNoEventPort, 9});
        // The server's reports: the baseline at once, two firings on the next request.
        std::thread reports([&] {
            for (uint32_t n = 1; c.server <= kFires && n <= (c.server == kFires ? 2u : 1u); ++n) {
                if (fake.WaitForRequests(op_que_events, n)) {
                    fake.SendAuxiliary(EventPacket(1, EventBlock({{"PING", n == 1 ? 1 : 3}})));
                }
            }
        });
        const bool nobody = c.server == kNothingListens;
        const std::string connection =
            (c.server == kRefusesName ? "" : "database=varnel;") +
            std::string(nobody ? "server=127.0.0.1" : "server=localhost") +
            ";user=SYSDBA;password=masterkey;port=" +
            std::to_string(nobody ? UnusedLoopbackPort() : fake.Port());
        std::ostringstream out;
        const int status = varnelhost::RunCheck(connection, c.server == kFires ? "PING" : "",
                                                c.server == kFires ? 5 : 0, out);
        reports.join();
        EXPECT_EQ(status, c.status) << out.str();
        EXPECT_EQ(Outline(out.str()), c.outline) << out.str();
        size_t at = 0;
        for (const std::string& text : c.printed) {
            at = out.str().find(text, at);
            ASSERT_NE(at, std::string::npos) << text << " in\n" << out.str();
        }
    }
}

// Without password= the password comes from outside the string (VARNEL_PASSWORD or
// the terminal): its hash reaches the attach. With password= nothing is asked.
TEST(Check, ThePasswordFromOutsideTheString) {
    FakeFirebird fake;
    fake.SetAuxiliaryReply(AuxiliaryReply{{}, {}, false, 1});  // the check ends there
    int asked = 0;
    const varnelhost::PasswordSource source = [&](const std::string& user, std::string* password) {
        ++asked;
        EXPECT_EQ(user, "SYSDBA");
        *password = "masterkey";
        return true;
    };
    const std::string connection =
        "database=varnel;server=127.0.0.1;user=SYSDBA;port=" + std::to_string(fake.Port());
    std::ostringstream out;
    varnelhost::RunCheck(connection, "", 0, out, source);
    varnelhost::RunCheck(connection + ";pwd=other", "", 0, out, source);
    EXPECT_EQ(asked, 1);
    const std::vector<FirebirdRequest> attaches = fake.Requests(op_attach);
    ASSERT_EQ(attaches.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::string bytes(attaches[i].bytes.begin(), attaches[i].bytes.end());
        EXPECT_EQ(bytes.find("QP3LMZ/MJh.") != std::string::npos, i == 0);
    }
}

}  // namespace
