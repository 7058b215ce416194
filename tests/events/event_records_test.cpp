#include "events/event_records.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fake_firebird.h"

namespace {

using varnel_test::Bytes;
using varnel_test::EventBlock;

Bytes Built(const EventRequest& request) {
    uint8_t storage[kEventBlockCapacity] = {};
    CParamBlock block(storage, kEventBlockCapacity);
    const int32_t length = request.BuildEventBlock(block);
    EXPECT_EQ(length, block.Length());
    return Bytes(storage, storage + length);
}

// From a heap buffer of exactly their size: AddressSanitizer sees a read past the end.
void Apply(EventRequest& request, const Bytes& bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    request.ApplyEventBlock(exact.get(), bytes.size());
}

EventRequest RequestFor(std::initializer_list<const char*> names) {
    EventRequest request;
    for (const char* name : names) {
        EXPECT_TRUE(request.AddEventName(name));
    }
    return request;
}

// Names are kept once each by their exact bytes; an entry asks for the count after
// the last one reported (0 for a new one); an entry is written whole or not at all:
// behind the version byte and an entry of 255 name bytes (261 bytes), one of n name
// bytes ends at 266 + n, and the block keeps a byte to spare (n = 245 fits, 246 not).
TEST(EventBlock, EntriesInOrderWithTheirCounts) {
    EventRequest request = RequestFor({"ORDERS", "orders", "ORDERS", nullptr, "", "long_name"});
    ASSERT_EQ(request.events.Size(), 4u);
    request.events[0].lastCount = 0x01020304 - 1;
    request.events[3].lastCount = -2;  // wraps to 0xFFFFFFFF
    EXPECT_EQ(
        Built(request),
        EventBlock({{"ORDERS", 0x01020304}, {"orders", 0}, {"", 0}, {"long_name", 0xFFFFFFFF}}));
    const std::string first(255, 'a'), fits(245, 'b'), over(246, 'b');
    const struct {
        std::vector<std::string> names;
        std::vector<std::pair<std::string, uint32_t>> written;
    } cases[] = {
        {{first, fits}, {{first, 7}, {fits, 7}}},
        {{first, over, "Z"}, {{first, 7}, {"Z", 7}}},
        {{std::string(256, 'x'), "B"}, {{"B", 7}}},  // longer than a length byte
    };
    for (const auto& c : cases) {
        EventRequest r;
        for (const std::string& name : c.names) {
            ASSERT_TRUE(r.AddEventName(name.c_str()));
            r.events[r.events.Size() - 1].lastCount = 6;
        }
        EXPECT_EQ(Built(r), EventBlock(c.written));
    }
}

// The first report records the baseline; then the differences, wrapping; a count that
// goes down is no new occurrence; 0 is "no report" again.
TEST(EventCounts, ReportSequence) {
    const struct {
        uint32_t reported;
        int32_t fired, last;
    } steps[] = {
        {5, 0, 4},  // the baseline
        {8, 3, 7},
        {0, -8, -1},  // no report
        {3, 0, 2},
        {2, -1, 1},  // down
        {0x80000000u, INT32_MAX - 1, INT32_MAX},
    };
    EventRequest request = RequestFor({"ORDERS"});
    for (const auto& step : steps) {
        Apply(request, EventBlock({{"ORDERS", step.reported}}));
        EXPECT_EQ(request.events[0].firedCount, step.fired) << step.reported;
        EXPECT_EQ(request.events[0].lastCount, step.last) << step.reported;
        EXPECT_EQ(Built(request), EventBlock({{"ORDERS", step.reported}}));
    }
    // A name matches by all its bytes; unknown names are ignored.
    EventRequest three = RequestFor({"orders", "ORDERS", "ORD"});
    Apply(three, EventBlock({{"ORDERS", 5}}));
    Apply(three,
          EventBlock({{"orders", 2}, {"ORDERS", 10}, {std::string("ORD\0X", 5), 4}, {"x", 7}}));
    EXPECT_EQ(three.events[0].lastCount, 1);
    EXPECT_EQ(three.events[0].firedCount, 0);
    EXPECT_EQ(three.events[1].firedCount, 5);
    EXPECT_EQ(three.events[2].lastCount, -1);
}

TEST(EventCounts, MalformedBlocksReadNothingBeyondTheirEnd) {
    const Bytes whole = EventBlock({{"A", 5}, {"ORDERS", 7}});
    std::vector<std::pair<std::string, uint32_t>> many;
    for (uint32_t i = 0; i < 2000; ++i) {
        many.emplace_back("filler" + std::to_string(i), i);
    }
    many.emplace_back("ORDERS", 42);  // far more than the library sends; the wanted one last
    const struct {
        Bytes block;
        int32_t lastA, lastOrders;
    } cases[] = {
        {{1}, -1, -1},
        {[] {  // another version byte
             Bytes block = EventBlock({{"ORDERS", 7}});
             block[0] = 2;
             return block;
         }(),
         -1, 6},
        {Bytes(whole.begin(), whole.begin() + 11), 4, -1},
        {Bytes(whole.begin(), whole.end() - 1), 4, -1},
        {whole, 4, 6},
        {EventBlock(many), -1, 41},
    };
    for (const auto& c : cases) {
        EventRequest request = RequestFor({"A", "ORDERS"});
        Apply(request, c.block);
        EXPECT_EQ(request.events[0].lastCount, c.lastA) << varnel_test::Hex(c.block);
        EXPECT_EQ(request.events[1].lastCount, c.lastOrders) << varnel_test::Hex(c.block);
    }
}

}  // namespace
