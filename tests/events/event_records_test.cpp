#include "events/event_records.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// One event of a block: length byte, name, count least significant first.
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
    std::copy(bytes.begin(), bytes.end(), exact.get());
    request.ApplyEventBlock(exact.get(), bytes.size());
}

EventRequest RequestFor(std::initializer_list<std::string> names) {
    EventRequest request;
    for (const std::string& name : names) {
        EXPECT_TRUE(request.AddEventName(name.c_str()));
    }
    return request;
}

TEST(EventBlock, EntriesInOrderWithTheirCounts) {
    // A new entry asks for count 0; a known one for the count last reported.
    EventRequest request = RequestFor({"ORDERS", "", "long_name"});
    request.events[0].lastCount = 0x01020304 - 1;
    request.events[2].lastCount = -2;  // wraps to the count 0xFFFFFFFF
    Bytes expected{1};
    PutEvent(expected, "ORDERS", 0x01020304);
    PutEvent(expected, "", 0);
    PutEvent(expected, "long_name", 0xFFFFFFFF);
    EXPECT_EQ(BuildBlock(request), expected);
}

TEST(EventBlock, AnEntryIsWrittenWholeOrNotAtAll) {
    // Behind the version byte and an entry of 255 name bytes (261 bytes), an entry of
    // n name bytes ends at 266 + n. The block keeps one byte to spare: n = 245 ends at
    // 511 and fits, n = 246 would end at 512.
    const std::string first(255, 'a');
    const struct {
        const char* name;
        std::vector<std::string> names;
        std::vector<std::string> written;
    } cases[] = {
        {"the largest entry that fits",
         {first, std::string(245, 'b')},
         {first, std::string(245, 'b')}},
        {"the smallest that does not", {first, std::string(246, 'b'), "Z"}, {first, "Z"}},
        {"a name longer than a length byte", {std::string(256, 'x'), "B"}, {"B"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EventRequest request;
        Bytes expected{1};
        for (const std::string& name : c.names) {
            ASSERT_TRUE(request.AddEventName(name.c_str()));
            request.events[request.events.Size() - 1].lastCount = 6;
        }
        for (const std::string& name : c.written) {
            PutEvent(expected, name, 7);
        }
        EXPECT_EQ(BuildBlock(request), expected);
    }
}

TEST(EventRequest, AddEventNameKeepsNamesUniqueByExactBytes) {
    EventRequest request;
    for (const char* name : {"orders", "ORDERS", "orders", static_cast<const char*>(nullptr), ""}) {
        ASSERT_TRUE(request.AddEventName(name));
    }
    ASSERT_EQ(request.events.Size(), 3u);
    EXPECT_EQ(request.events[1].name, AnsiString("ORDERS"));
    EXPECT_TRUE(request.events[2].name.IsEmpty());
}

TEST(EventCounts, ReportSequence) {
    const struct {
        uint32_t reported;
        int32_t fired, last;
    } steps[] = {
        {5, 0, 4},                                // the first report only records the baseline
        {8, 3, 7},                                // three new occurrences
        {8, 0, 7},                                // nothing new
        {0, -8, -1},                              // back to "no report"
        {3, 0, 2},                                // so this is a baseline again
        {2, -1, 1},                               // a count going down is not new occurrences
        {0x80000000u, INT32_MAX - 1, INT32_MAX},  // wraps, no overflow
    };
    EventRequest request = RequestFor({"ORDERS"});
    for (const auto& step : steps) {
        SCOPED_TRACE(step.reported);
        Apply(request, Report("ORDERS", step.reported));
        EXPECT_EQ(request.events[0].firedCount, step.fired);
        EXPECT_EQ(request.events[0].lastCount, step.last);
        EXPECT_EQ(BuildBlock(request), Report("ORDERS", step.reported));  // asks for it next
    }
}

TEST(EventCounts, ANameMatchesByAllItsBytes) {
    EventRequest request = RequestFor({"orders", "ORDERS", "ORD"});
    Apply(request, Report("ORDERS", 5));
    Bytes block{1};
    PutEvent(block, "orders", 2);
    PutEvent(block, "ORDERS", 10);
    PutEvent(block, std::string("ORD\0X", 5), 4);  // not the prefix name
    PutEvent(block, "unknown", 77);                // matches nothing and is ignored
    Apply(request, block);
    EXPECT_EQ(request.events[0].lastCount, 1);
    EXPECT_EQ(request.events[0].firedCount, 0);
    EXPECT_EQ(request.events[1].firedCount, 5);
    EXPECT_EQ(request.events[2].lastCount, -1);
}

TEST(EventCounts, MalformedBlocksReadNothingBeyondTheirEnd) {
    Bytes whole = Report("A", 5);
    PutEvent(whole, "ORDERS", 7);
    Bytes oversized{1};  // far more than any block the library sends, the wanted one last
    for (int i = 0; i < 2000; ++i) {
        PutEvent(oversized, "filler" + std::to_string(i), static_cast<uint32_t>(i));
    }
    PutEvent(oversized, "ORDERS", 42);
    const struct {
        const char* name;
        Bytes block;
        int32_t lastA, lastOrders;
    } cases[] = {
        {"empty", {}, -1, -1},
        {"version byte only", {1}, -1, -1},
        {"other version byte", Report("ORDERS", 7, 2), -1, 6},
        {"ends inside the second name", Bytes(whole.begin(), whole.begin() + 11), 4, -1},
        {"ends inside the second count", Bytes(whole.begin(), whole.end() - 1), 4, -1},
        {"length byte far beyond the end", {1, 0xFF, 'A', 'B', 'C'}, -1, -1},
        {"length byte and nothing else", {1, 0x01}, -1, -1},
        {"whole block", whole, 4, 6},
        {"oversized block", oversized, -1, 41},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EventRequest request = RequestFor({"A", "ORDERS"}), viaText = request;
        Apply(request, c.block);
        viaText.ApplyEventBlock(
            AnsiString(reinterpret_cast<const char*>(c.block.data()), c.block.size()));
        for (const EventRequest& applied : {request, viaText}) {  // the text form reads the same
            EXPECT_EQ(applied.events[0].lastCount, c.lastA);
            EXPECT_EQ(applied.events[1].lastCount, c.lastOrders);
        }
    }
    // Pseudo-random blocks; under AddressSanitizer any read past the end fails.
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 2000; ++round) {
        Bytes block(next() % 40);
        for (uint8_t& b : block) {
            b = static_cast<uint8_t>(next() % 8);  // small values make plausible length bytes
        }
        EventRequest request = RequestFor({"", "\x01", "\x01\x02"});
        Apply(request, block);
    }
}

TEST(EventRequestTable, FindByNameAndById) {
    EventRequestTable table;
    const char* names[] = {"orders", "ORDERS", "orders"};
    for (int32_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(table.Add(id, RequestFor({names[id - 1]})));
    }
    table.Add(9, EventRequest{});  // a request without entries matches no name
    EXPECT_EQ(FindEventRequestByName(table, "orders"), 0);
    EXPECT_EQ(FindEventRequestByName(table, "ORDERS"), 1);
    EXPECT_EQ(FindEventRequestByName(table, "Orders"), -1);
    EXPECT_EQ(FindEventRequestByName(table, ""), -1);
    EXPECT_EQ(FindEventRequestById(table, 9), 3);
    EXPECT_EQ(FindEventRequestById(table, 4), -1);
    table.RemoveAt(0);
    EXPECT_EQ(FindEventRequestByName(table, "orders"), 1);
    EXPECT_EQ(FindEventRequestById(table, 1), -1);
}

}  // namespace
