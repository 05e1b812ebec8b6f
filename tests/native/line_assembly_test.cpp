#include "rotator/line_assembly.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kRing = 100;

// A receive ring as the worker fills it, and the consumer's loop over it.
class Ring {
public:
    explicit Ring(size_t start = 0) : read_(start), write_(start) {}

    // Stores bytes after the write position (the tests never overfill the ring).
    void Put(const std::string& bytes) {
        for (char c : bytes) {
            bytes_[write_] = c;
            write_ = (write_ + 1) % kRing;
            ASSERT_NE(write_, read_) << "test overfilled the ring";
        }
    }

    // Walks until no line is complete; returns the lines' texts, empty ones included.
    std::vector<std::string> TakeLines() {
        std::vector<std::string> lines;
        for (;;) {
            const rotator::LineWalk walk = rotator::WalkOneLine(bytes_, kRing, read_, write_);
            if (!walk.complete) {
                EXPECT_EQ(walk.nextRead, read_);
                return lines;
            }
            EXPECT_EQ(std::string(walk.text).size(), walk.length);
            lines.emplace_back(walk.text, walk.length);
            read_ = walk.nextRead;
        }
    }

    // The lines the dialog shows and logs: the empty ones are dropped.
    std::vector<std::string> TakeNonEmptyLines() {
        std::vector<std::string> kept;
        for (const std::string& line : TakeLines())
            if (!line.empty()) kept.push_back(line);
        return kept;
    }

    size_t Unread() const { return (write_ + kRing - read_) % kRing; }

private:
    char bytes_[kRing] = {};
    size_t read_;
    size_t write_;
};

using Lines = std::vector<std::string>;

struct FramingCase {
    const char* name;
    std::string received;
    Lines expected;  // every completed line, empty ones included
    size_t leftUnread;
};

class LineFramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(LineFramingTest, EveryCrAndEveryLfEndsALine) {
    Ring ring;
    ring.Put(GetParam().received);
    EXPECT_EQ(ring.TakeLines(), GetParam().expected);
    EXPECT_EQ(ring.Unread(), GetParam().leftUnread);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineFramingTest,
    ::testing::Values(FramingCase{"CrLf", "AZP 045\r\n", {"AZP 045", ""}, 0},
                      FramingCase{"CrAlone", "AZP 045\r", {"AZP 045"}, 0},
                      FramingCase{"LfAlone", "AZP 045\n", {"AZP 045"}, 0},
                      FramingCase{"LfCr", "x\n\ry\r", {"x", "", "y"}, 0},
                      FramingCase{"TwoLines", "one\r\ntwo\r\n", {"one", "", "two", ""}, 0},
                      FramingCase{"Mixed", "a\rb\nc\r\nd", {"a", "b", "c", ""}, 1},
                      FramingCase{"OnlyLineEnds", "\r\n\n\r", {"", "", "", ""}, 0},
                      FramingCase{"Unfinished", "AZP 04", {}, 6},
                      FramingCase{"NulEndsTheText", std::string("ab\0cd\r", 6), {"ab"}, 0},
                      FramingCase{"NulFirst", std::string("\0cd\rok\n", 7), {"", "ok"}, 0},
                      FramingCase{"Empty", "", {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineAssemblyTest, UnfinishedLineIsHandledOnceWhenItsEndArrives) {
    Ring ring;
    ring.Put("A P 1");
    EXPECT_EQ(ring.TakeNonEmptyLines(), Lines{});
    ring.Put("23  MV ");
    EXPECT_EQ(ring.TakeNonEmptyLines(), Lines{});
    ring.Put("\r\nE P 4");
    EXPECT_EQ(ring.TakeNonEmptyLines(), Lines{"A P 123  MV "});
    ring.Put("5      \r\n");
    EXPECT_EQ(ring.TakeNonEmptyLines(), Lines{"E P 45      "});
    EXPECT_EQ(ring.TakeNonEmptyLines(), Lines{});
}

TEST(LineAssemblyTest, LineEndSplitBetweenNotificationsGivesNoExtraNonEmptyLine) {
    Ring ring;
    ring.Put("abc\r");
    EXPECT_EQ(ring.TakeLines(), Lines{"abc"});
    ring.Put("\n");
    EXPECT_EQ(ring.TakeLines(), Lines{""});
}

TEST(LineAssemblyTest, LinesWrapFromTheLastSlotToTheFirst) {
    Ring ring(95);
    ring.Put("0123456789\r\nxy\n");
    EXPECT_EQ(ring.TakeNonEmptyLines(), (Lines{"0123456789", "xy"}));
    EXPECT_EQ(ring.Unread(), 0u);
}

TEST(LineAssemblyTest, ALineEndOnTheLastSlotMovesTheReadPositionToTheFirst) {
    char bytes[kRing] = {};
    bytes[98] = 'z';
    bytes[99] = '\r';
    const rotator::LineWalk walk = rotator::WalkOneLine(bytes, kRing, 98, 0);
    EXPECT_TRUE(walk.complete);
    EXPECT_EQ(walk.nextRead, 0u);
    EXPECT_STREQ(walk.text, "z");
}

TEST(LineAssemblyTest, AFullRingWithoutLineEndKeepsAll99Characters) {
    Ring ring(40);
    const std::string longRun(99 - 1, 'q');
    ring.Put(longRun);
    ring.Put("w");
    EXPECT_EQ(ring.TakeLines(), Lines{});
    EXPECT_EQ(ring.Unread(), 99u);
}

TEST(LineAssemblyTest, TheLongestLineTheRingCanCompleteIsKeptWhole) {
    Ring ring(7);
    const std::string line(98, 'L');
    ring.Put(line + "\r");
    EXPECT_EQ(ring.TakeLines(), Lines{line});
}

TEST(LineAssemblyTest, ALongerRingNeverOverrunsTheLineBuffer) {
    std::vector<char> big(1000, 'x');
    big[900] = '\n';
    const rotator::LineWalk walk = rotator::WalkOneLine(big.data(), big.size(), 0, 999);
    EXPECT_TRUE(walk.complete);
    EXPECT_EQ(walk.nextRead, 901u);
    EXPECT_EQ(walk.length, rotator::kLineBufferSize - 1);
    EXPECT_EQ(std::string(walk.text), std::string(rotator::kLineBufferSize - 1, 'x'));
}

TEST(LineAssemblyTest, PositionsOutsideTheRingConsumeNothing) {
    char bytes[kRing] = {'a', '\n'};
    for (const auto& [read, write] : {std::pair<size_t, size_t>{kRing, 2}, {0, kRing}}) {
        const rotator::LineWalk walk = rotator::WalkOneLine(bytes, kRing, read, write);
        EXPECT_FALSE(walk.complete);
        EXPECT_EQ(walk.nextRead, read);
        EXPECT_EQ(walk.length, 0u);
    }
}

}  // namespace
