#include "command_framer.h"

#include <gtest/gtest.h>

namespace kelma {
namespace {

using Kind = ControllerCommand::Kind;
constexpr int64_t kQuiet = 30000;

struct Piece {
    int64_t micros;
    std::string bytes;
};

// Feeds the pieces, then lets the quiet time run out after the last one.
std::vector<ControllerCommand> FeedAll(const std::vector<Piece>& pieces) {
    CommandFramer framer(kQuiet);
    std::vector<ControllerCommand> out;
    for (const Piece& p : pieces) {
        auto commands = framer.Feed(p.bytes, p.micros);
        out.insert(out.end(), commands.begin(), commands.end());
    }
    if (auto poll = framer.Expire(pieces.back().micros + kQuiet)) out.push_back(*poll);
    return out;
}

TEST(CommandFramer, ReadsEachCommandTheProgramSends) {
    struct Case {
        std::string bytes;
        std::vector<ControllerCommand> expected;
    } cases[] = {
        {"A\r\n45\r\n", {{Kind::Goto, 'A', 45}}},
        {"A\r\n045\r\n", {{Kind::Goto, 'A', 45}}},
        {"E\r\n180\r\n", {{Kind::Goto, 'E', 180}}},
        {"A\r\n-05\r\n", {{Kind::Goto, 'A', -5}}},
        {"A\r\nS\r\n", {{Kind::Stop, 'A'}}},
        {"E\r\nS\r\n", {{Kind::Stop, 'E'}}},
        {"E\r\n", {{Kind::Poll, 'E'}}},
        {"A\r\n", {{Kind::Poll, 'A'}}},
        {"A\n045\n", {{Kind::Goto, 'A', 45}}},
        {"A\r045\r", {{Kind::Goto, 'A', 45}}},
        {"A\r\nE\r\n", {{Kind::Poll, 'A'}, {Kind::Poll, 'E'}}},
        {"A\r\n045\r\nE\r\n010\r\n", {{Kind::Goto, 'A', 45}, {Kind::Goto, 'E', 10}}},
    };
    for (const Case& c : cases) EXPECT_EQ(FeedAll({{0, c.bytes}}), c.expected) << c.bytes;
}

TEST(CommandFramer, IgnoresWhatIsNoCommand) {
    for (std::string bytes : {"045\r\n", "a\r\n045\r\n", "A\r\nXYZ\r\n", "A\r\n4 5\r\n",
                              "A\r\n+\r\n", "AZ\r\n", "\r\n\r\n", "S\r\n"}) {
        EXPECT_TRUE(FeedAll({{0, bytes}}).empty()) << bytes;
    }
}

TEST(CommandFramer, JoinsACommandSplitAcrossReads) {
    EXPECT_EQ(FeedAll({{0, "A\r"}, {1000, "\n04"}, {2000, "5\r"}, {2500, "\n"}}),
              (std::vector<ControllerCommand>{{Kind::Goto, 'A', 45}}));
}

TEST(CommandFramer, TakesAnAxisLineAsPollOnlyAfterTheQuietTime) {
    CommandFramer framer(kQuiet);
    EXPECT_TRUE(framer.Feed("E\r\n", 1000).empty());
    EXPECT_EQ(framer.Deadline(), 1000 + kQuiet);
    EXPECT_FALSE(framer.Expire(1000 + kQuiet - 1));
    auto poll = framer.Expire(1000 + kQuiet);
    ASSERT_TRUE(poll);
    EXPECT_EQ(*poll, (ControllerCommand{Kind::Poll, 'E'}));
    EXPECT_FALSE(framer.Deadline());
}

TEST(CommandFramer, AnArgumentAfterTheQuietTimeBelongsToNoAxis) {
    EXPECT_EQ(FeedAll({{0, "A\r\n"}, {kQuiet + 10000, "045\r\n"}}),
              (std::vector<ControllerCommand>{{Kind::Poll, 'A'}}));
}

TEST(CommandFramer, DropsAnOverlongLine) {
    const std::string longArgument(200, '1');
    EXPECT_TRUE(FeedAll({{0, "A\r\n" + longArgument + "\r\n"}}).empty());
    EXPECT_EQ(FeedAll({{0, std::string(200, 'x') + "\r\nA\r\n10\r\n"}}),
              (std::vector<ControllerCommand>{{Kind::Goto, 'A', 10}}));
}

TEST(ParseAngleArgument, AcceptsSignedDecimalsOnly) {
    EXPECT_EQ(ParseAngleArgument("045"), 45.0);
    EXPECT_EQ(ParseAngleArgument("-05"), -5.0);
    EXPECT_EQ(ParseAngleArgument("+7"), 7.0);
    EXPECT_EQ(ParseAngleArgument("12.5"), 12.5);
    for (const char* bad : {"", "-", "1.", ".5", "1e3", " 45", "45 ", "0x10", "S"})
        EXPECT_FALSE(ParseAngleArgument(bad)) << bad;
}

}  // namespace
}  // namespace kelma
