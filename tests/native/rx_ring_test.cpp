// Receive ring rules: where bytes go, when the ring wraps and overflows, and what the consumer
// finds again after leaving an unfinished line.
#include "serial/rx_ring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr size_t kSize = 100;

// A 100-slot ring with its two positions, as the operator window holds it.
struct Ring {
    char slots[kSize] = {};
    char* write = slots;
    char* read = slots;

    Ring(size_t writeSlot = 0, size_t readSlot = 0)
        : write(slots + writeSlot), read(slots + readSlot) {}

    bool Store(const std::string& bytes) {
        const serial::RxStoreResult r =
            serial::RingStore(slots, kSize, write, read, bytes.data(), bytes.size());
        write = r.write;
        return r.complete;
    }
    std::string Unread() const {
        char out[kSize];
        return std::string(out, serial::RingPeek(slots, kSize, read, write, out, sizeof(out)));
    }
    size_t WriteSlot() const { return static_cast<size_t>(write - slots); }
    size_t ReadSlot() const { return static_cast<size_t>(read - slots); }
};

std::string Bytes(size_t count, char first = 'a') {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += static_cast<char>(first + i % 26);
    return s;
}

struct StoreCase {
    const char* name;
    size_t writeSlot, readSlot, count;
    size_t expectedWrite;
    bool expectedComplete;
    size_t expectedUnread;
};

class RingStoreTable : public ::testing::TestWithParam<StoreCase> {};

TEST_P(RingStoreTable, MovesWritePositionAndReportsOverflow) {
    const StoreCase& c = GetParam();
    Ring ring(c.writeSlot, c.readSlot);
    const bool complete = ring.Store(Bytes(c.count));
    EXPECT_EQ(ring.WriteSlot(), c.expectedWrite);
    EXPECT_EQ(complete, c.expectedComplete);
    EXPECT_EQ(serial::RingUnread(ring.slots, kSize, ring.read, ring.write), c.expectedUnread);
    EXPECT_EQ(ring.ReadSlot(), c.readSlot) << "storing never moves the read position";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RingStoreTable,
    ::testing::Values(StoreCase{"TwelveByteReplyIntoEmptyRing", 0, 0, 12, 12, true, 12},
                      StoreCase{"FullReadBlockOfTwenty", 30, 30, 20, 50, true, 20},
                      StoreCase{"NothingReadStillCountsAsComplete", 7, 7, 0, 7, true, 0},
                      StoreCase{"WrapsFromSlot99ToSlot0", 95, 50, 10, 5, true, 55},
                      StoreCase{"EndsExactlyOnLastSlotBoundary", 90, 50, 10, 0, true, 50},
                      StoreCase{"HundredthUnreadByteEmptiesTheRing", 99, 0, 1, 0, false, 0},
                      StoreCase{"OverflowDropsRestOfBlock", 95, 5, 20, 5, false, 0},
                      StoreCase{"NinetyNineUnreadAfterWrapIsStillComplete", 40, 50, 9, 49, true,
                                99}),
    [](const ::testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

TEST(RxRing, WrappedBytesLandInSlots95To99Then0To4) {
    Ring ring(95, 50);
    ASSERT_TRUE(ring.Store("0123456789"));
    EXPECT_EQ(std::string(ring.slots + 95, 5), "01234");
    EXPECT_EQ(std::string(ring.slots, 5), "56789");
    EXPECT_EQ(ring.WriteSlot(), 5u);
}

TEST(RxRing, TwentyFiveWaitingBytesArriveAsTwentyThenFiveInOrder) {
    Ring ring;
    const std::string waiting = Bytes(25);
    ASSERT_TRUE(ring.Store(waiting.substr(0, serial::kRxReadMax)));
    EXPECT_EQ(ring.Unread(), waiting.substr(0, 20));
    ASSERT_TRUE(ring.Store(waiting.substr(serial::kRxReadMax)));
    EXPECT_EQ(ring.Unread(), waiting);
}

TEST(RxRing, OverflowWithNinetyNineUnreadAbandonsThemAndStartsAfresh) {
    Ring ring;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(ring.Store(Bytes(20)));
    ASSERT_TRUE(ring.Store(Bytes(19)));
    ASSERT_EQ(ring.Unread().size(), 99u);

    EXPECT_FALSE(ring.Store("XYZ"));  // 'X' meets the read position; "YZ" is dropped
    EXPECT_EQ(ring.Unread(), "");
    EXPECT_EQ(ring.WriteSlot(), 0u);
    EXPECT_EQ(ring.slots[99], 'X');

    EXPECT_TRUE(ring.Store("AP 123\r\n"));
    EXPECT_EQ(ring.Unread(), "AP 123\r\n");
}

TEST(RxRing, ConsumerLeavingUnfinishedLineFindsItAgainWithNewBytes) {
    Ring ring(90, 90);
    ASSERT_TRUE(ring.Store("AP 123 MV\r\nEP 04"));
    // The consumer takes the complete line and leaves the unfinished one.
    const std::string seen = ring.Unread();
    const size_t lineEnd = seen.find_last_of("\r\n") + 1;
    ring.read = serial::RingAdvance(ring.slots, kSize, ring.read, ring.write, lineEnd);
    EXPECT_EQ(ring.Unread(), "EP 04");

    ASSERT_TRUE(ring.Store("5\r\n"));
    EXPECT_EQ(ring.Unread(), "EP 045\r\n");
    EXPECT_EQ(ring.ReadSlot(), 1u);  // 90 + 11 wrapped
}

TEST(RxRing, AdvanceNeverPassesTheWritePosition) {
    Ring ring(3, 97);
    EXPECT_EQ(serial::RingUnread(ring.slots, kSize, ring.read, ring.write), 6u);
    EXPECT_EQ(serial::RingAdvance(ring.slots, kSize, ring.read, ring.write, 4), ring.slots + 1);
    EXPECT_EQ(serial::RingAdvance(ring.slots, kSize, ring.read, ring.write, 50), ring.write);
}

TEST(RxRing, PeekStopsAtTheGivenMaximum) {
    Ring ring(98, 98);
    ASSERT_TRUE(ring.Store("ABCDE"));
    char out[3];
    ASSERT_EQ(serial::RingPeek(ring.slots, kSize, ring.read, ring.write, out, sizeof(out)), 3u);
    EXPECT_EQ(std::string(out, 3), "ABC");
}

}  // namespace
