// A report's re-queue that the server answers with a fault (the main connection
// fails while the listener asks for the event again): the firing is still delivered,
// the listener finds the connection lost and says so at once, and a new connection
// works.

#include <gtest/gtest.h>

#include "channel/connection_fixture.h"

namespace varnel_test {
namespace {

TEST(PeerFailures, TheReplyToARequeue) {
    for (const Fault fault : {Fault::kClose, Fault::kReset, Fault::kGarbage, Fault::kTruncate}) {
        SCOPED_TRACE(static_cast<int>(fault));
        FakeFirebird fake;
        RecordingSink sink;
        std::unique_ptr<CDatabase> db = CDatabase::Create();
        db->AttachEventSink(&sink);
        db->SetConnectionHandle(7);
        ASSERT_TRUE(db->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "key"));
        ASSERT_TRUE(db->SubscribeEvent("A"));
        ASSERT_TRUE(fake.SendAuxiliary(EventPacket(1, EventBlock({{"A", 1}}))));
        ASSERT_TRUE(fake.WaitForRequests(op_que_events, 2));
        fake.FaultAtReply(1, fault);
        ASSERT_TRUE(fake.SendAuxiliary(EventPacket(1, EventBlock({{"A", 3}}))));
        ASSERT_TRUE(sink.WaitFor(2));
        const Texts firings = sink.Firings();
        EXPECT_EQ(firings[0], "A 2");
        EXPECT_EQ(firings[1].rfind("lost 7: The connection to the server was lost: ", 0), 0u)
            << firings[1];
        EXPECT_TRUE(db->Disconnect());
        std::unique_ptr<CDatabase> next = CDatabase::Create();
        EXPECT_TRUE(next->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "key"));
    }
}

}  // namespace
}  // namespace varnel_test
