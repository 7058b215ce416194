#include "events/event_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes BuildBlock(const EventRequest& request) {
    uint8_t storage[kEventBlockCapacity] = {};
    CParamBlock block(storage, kEventBlockCapacity);
    const int32_t length = request.BuildEventBlock(block);
    EXPECT_EQ(length, block.Length());
    return Bytes(storage, storage + length);
}

// One event of a received block: length byte, name, count least significant first.
void PutEvent(Bytes& block, const std::string& name, uint32_t count) {
    block.push_back(static_cast<uint8_t>(name.size()));
    block.insert(block.end(), name.begin(), name.end());
    for (int i = 0; i < 4; ++i) {
        block.push_back(static_cast<uint8_t>(count >> (8 * i)));
    }
}

Bytes Report(const std::string& name, uint32_t count, uint8_t version = 1) {
    Bytes block{version};
    PutEvent(block, name, count);
    return block;
}

// Applies the bytes from a heap buffer of exactly their size, so that a read past
// the end shows under AddressSanitizer.
void Apply(EventRequest& request, const Bytes& bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
    if (!bytes.empty()) {
        std::memcpy(exact.get(), bytes.data(), bytes.size());
    }
    request.ApplyEventBlock(exact.get(), bytes.size());
}

EventRequest RequestFor(std::initializer_list<const char*> names) {
    EventRequest request;
    for (const char* name : names) {
        EXPECT_TRUE(request.AddEventName(name));
    }
    return request;
}

TEST(EventBlock, EntriesInOrderWithTheirCounts) {
    // A new entry asks for count 0; a known one for the count last reported.
    EventRequest request = RequestFor({"ORDERS", "", "long_name"});
    request.events[0].lastCount = 0x01020304 - 1;
    request.events[2].lastCount = -2;  // wraps to the count 0xFFFFFFFF
    const Bytes expected{0x01, 0x06, 'O',  'R',  'D',  'E',  'R',  'S',  0x04, 0x03, 0x02,
                         0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 'l',  'o',  'n',  'g',
                         '_',  'n',  'a',  'm',  'e',  0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(BuildBlock(request), expected);
    EXPECT_EQ(BuildBlock(RequestFor({"ORDERS"})),
              (Bytes{0x01, 0x06, 'O', 'R', 'D', 'E', 'R', 'S', 0x00, 0x00, 0x00, 0x00}));
}

TEST(EventBlock, EntriesThatCannotBeWrittenWholeAreLeftOut) {
    // A name longer than a length byte can say is never written half.
    EventRequest tooLong = RequestFor({std::string(300, 'x').c_str(), "B"});
    EXPECT_EQ(BuildBlock(tooLong), (Bytes{0x01, 0x01, 'B', 0, 0, 0, 0}));

    // Entries of 1 + 100 + 4 bytes: four fit behind the version byte (421 bytes), a
    // fifth would reach 526. A short one still fits behind them.
    EventRequest many;
    for (char c = 'a'; c <= 'f'; ++c) {
        ASSERT_TRUE(many.AddEventName(std::string(100, c).c_str()));
    }
    ASSERT_TRUE(many.AddEventName("Z"));
    many.events[3].lastCount = 2;  // "ddd..." is written
    many.events[4].lastCount = 9;  // "eee..." is not
    many.events[6].lastCount = 6;  // "Z" is
    const Bytes block = BuildBlock(many);
    ASSERT_EQ(block.size(), 1u + 4 * 105 + 6);
    const std::string d(100, 'd');
    const std::string e(100, 'e');
    EventRequest parsed = RequestFor({"Z", d.c_str(), e.c_str()});
    Apply(parsed, block);  // the block decodes event by event up to "Z"
    EXPECT_EQ(parsed.events[0].lastCount, 6);
    EXPECT_EQ(parsed.events[1].lastCount, 2);
    EXPECT_EQ(parsed.events[2].lastCount, -1);
}

TEST(EventRequest, AddEventNameKeepsNamesUniqueByExactBytes) {
    EventRequest request = RequestFor({"orders", "ORDERS", "orders", nullptr, ""});
    ASSERT_EQ(request.events.Size(), 3u);
    EXPECT_EQ(request.events[0].name, AnsiString("orders"));
    EXPECT_EQ(request.events[1].name, AnsiString("ORDERS"));
    EXPECT_TRUE(request.events[2].name.IsEmpty());
}

TEST(EventCounts, ReportSequence) {
    struct Step {
        uint32_t reported;
        int32_t fired;
        int32_t last;
        uint32_t nextBlockCount;
    };
    const Step steps[] = {
        {5, 0, 4, 5},    // the first report only records the baseline
        {8, 3, 7, 8},    // three new occurrences
        {8, 0, 7, 8},    // nothing new
        {0, -8, -1, 0},  // back to "no report"
        {3, 0, 2, 3},    // so this is a baseline again
        {2, -1, 1, 2},   // a count going down is not new occurrences
        {0x80000000u, INT32_MAX - 1, INT32_MAX, 0x80000000u},  // wraps, no overflow
    };
    EventRequest request = RequestFor({"ORDERS"});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.reported);
        Apply(request, Report("ORDERS", step.reported));
        EXPECT_EQ(request.events[0].firedCount, step.fired);
        EXPECT_EQ(request.events[0].lastCount, step.last);
        const Bytes block = BuildBlock(request);
        ASSERT_EQ(block.size(), 12u);
        EXPECT_EQ(DecodeInteger(block.data(), 8, 4), step.nextBlockCount);
    }
}

TEST(EventCounts, ANameMatchesByAllItsBytes) {
    EventRequest request = RequestFor({"orders", "ORDERS", "ORD"});
    Apply(request, Report("ORDERS", 5));
    Apply(request, Report("ORDERS", 9));
    EXPECT_EQ(request.events[0].lastCount, -1);
    EXPECT_EQ(request.events[1].firedCount, 4);

    Bytes block{1};
    PutEvent(block, "orders", 2);
    PutEvent(block, "ORDERS", 10);
    PutEvent(block, std::string("ORD\0X", 5), 4);  // not the prefix name
    PutEvent(block, "unknown", 77);                // matches nothing and is ignored
    Apply(request, block);
    EXPECT_EQ(request.events[0].lastCount, 1);
    EXPECT_EQ(request.events[0].firedCount, 0);
    EXPECT_EQ(request.events[1].firedCount, 1);
    EXPECT_EQ(request.events[2].lastCount, -1);
}

TEST(EventCounts, MalformedBlocksReadNothingBeyondTheirEnd) {
    Bytes withSecond = Report("A", 5);
    PutEvent(withSecond, "ORDERS", 7);
    struct Case {
        const char* what;
        Bytes block;
        int32_t lastA;
        int32_t lastOrders;
    };
    const Case cases[] = {
        {"empty", {}, -1, -1},
        {"version byte only", {1}, -1, -1},
        {"other version byte", Report("ORDERS", 7, 2), -1, 6},
        {"ends inside the second name", Bytes(withSecond.begin(), withSecond.begin() + 1 + 6 + 4),
         4, -1},
        {"ends inside the second count", Bytes(withSecond.begin(), withSecond.end() - 1), 4, -1},
        {"length byte far beyond the end", {1, 0xFF, 'A', 'B', 'C'}, -1, -1},
        {"length byte and nothing else", {1, 0x01}, -1, -1},
        {"whole block", withSecond, 4, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EventRequest request = RequestFor({"A", "ORDERS"});
        Apply(request, c.block);
        EXPECT_EQ(request.events[0].lastCount, c.lastA);
        EXPECT_EQ(request.events[1].lastCount, c.lastOrders);
        // The AnsiString form decodes the same bytes the same way.
        EventRequest viaString = RequestFor({"A", "ORDERS"});
        viaString.ApplyEventBlock(
            AnsiString(reinterpret_cast<const char*>(c.block.data()), c.block.size()));
        EXPECT_EQ(viaString.events[0].lastCount, c.lastA);
        EXPECT_EQ(viaString.events[1].lastCount, c.lastOrders);
    }
}

TEST(EventCounts, OversizedBlockIsDecodedToItsEnd) {
    // Far more than any block the library sends: 2000 events, the wanted one last.
    Bytes block{1};
    for (int i = 0; i < 2000; ++i) {
        PutEvent(block, "filler" + std::to_string(i), static_cast<uint32_t>(i));
    }
    PutEvent(block, "ORDERS", 42);
    EventRequest request = RequestFor({"ORDERS"});
    Apply(request, block);
    EXPECT_EQ(request.events[0].lastCount, 41);
}

TEST(EventCounts, ArbitraryBytesStayWithinTheBlock) {
    // Pseudo-random blocks; under AddressSanitizer any read past the end fails.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (int round = 0; round < 2000; ++round) {
        Bytes block(next() % 40);
        for (uint8_t& b : block) {
            b = next() % 8;  // small values make plausible length bytes
        }
        EventRequest request = RequestFor({"", "\x01", "\x01\x02"});
        Apply(request, block);
    }
}

TEST(EventRequestTable, FindByNameAndById) {
    EventRequestTable table;
    const char* names[] = {"orders", "ORDERS", "orders"};
    for (int32_t id = 1; id <= 3; ++id) {
        EventRequest request = RequestFor({names[id - 1]});
        request.eventId = id;
        ASSERT_TRUE(table.Add(id, request));
    }
    table.Add(9, EventRequest{});  // a request without entries matches no name

    EXPECT_EQ(FindEventRequestByName(table, "orders"), 0);
    EXPECT_EQ(FindEventRequestByName(table, "ORDERS"), 1);
    EXPECT_EQ(FindEventRequestByName(table, "Orders"), -1);
    EXPECT_EQ(FindEventRequestByName(table, ""), -1);
    EXPECT_EQ(FindEventRequestById(table, 3), 2);
    EXPECT_EQ(FindEventRequestById(table, 9), 3);
    EXPECT_EQ(FindEventRequestById(table, 4), -1);

    // A report is applied to the stored copy that the id finds.
    Apply(table.ValueAt(static_cast<size_t>(FindEventRequestById(table, 2))), Report("ORDERS", 3));
    EXPECT_EQ(table.ValueAt(1).events[0].lastCount, 2);
    EXPECT_EQ(table.ValueAt(0).events[0].lastCount, -1);

    table.RemoveAt(0);
    EXPECT_EQ(FindEventRequestByName(table, "orders"), 1);
    EXPECT_EQ(FindEventRequestById(table, 1), -1);
}

}  // namespace
