#include "kelmarotd/rotctl_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kelmarotd::Command;
using kelmarotd::FormatReply;
using kelmarotd::LineReader;
using kelmarotd::ParseRequest;
using kelmarotd::Reply;
using kelmarotd::Request;
using kelmarotd::Status;

// --- Reading a client's line ---------------------------------------------------------------

struct ParseCase {
    const char* line;
    Command command;
    char separator;  // '\0': the default form
    double azimuth;
    double elevation;
};

class ParseRequestTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseRequestTest, FindsCommandFormAndAngles) {
    const ParseCase& c = GetParam();
    const Request r = ParseRequest(c.line);
    EXPECT_EQ(r.command, c.command) << c.line;
    EXPECT_EQ(r.separator.value_or('\0'), c.separator) << c.line;
    EXPECT_DOUBLE_EQ(r.azimuth, c.azimuth) << c.line;
    EXPECT_DOUBLE_EQ(r.elevation, c.elevation) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseRequestTest,
    ::testing::Values(ParseCase{"P 45 10", Command::kSetPosition, '\0', 45, 10},
                      ParseCase{"\\set_pos 163.5 -2.25", Command::kSetPosition, '\0', 163.5, -2.25},
                      ParseCase{"P\t1e2  +3.", Command::kSetPosition, '\0', 100, 3},
                      ParseCase{"P 45 10\r", Command::kSetPosition, '\0', 45, 10},
                      ParseCase{"+P 90 45", Command::kSetPosition, '\n', 90, 45},
                      ParseCase{"|\\set_pos .5 22.5", Command::kSetPosition, '|', 0.5, 22.5},
                      ParseCase{"p", Command::kGetPosition, '\0', 0, 0},
                      ParseCase{"  \\get_pos", Command::kGetPosition, '\0', 0, 0},
                      ParseCase{";p", Command::kGetPosition, ';', 0, 0},
                      ParseCase{",S", Command::kStop, ',', 0, 0},
                      ParseCase{"\\stop", Command::kStop, '\0', 0, 0},
                      ParseCase{"K", Command::kPark, '\0', 0, 0},
                      ParseCase{"+\\park", Command::kPark, '\n', 0, 0},
                      ParseCase{"_", Command::kGetInfo, '\0', 0, 0},
                      ParseCase{"\\get_info", Command::kGetInfo, '\0', 0, 0},
                      ParseCase{"\\dump_state", Command::kDumpState, '\0', 0, 0},
                      ParseCase{"q", Command::kQuit, '\0', 0, 0},
                      ParseCase{"\\quit", Command::kQuit, '\0', 0, 0},
                      // Unparsable: missing, extra or malformed values, unknown names.
                      ParseCase{"P", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P 45", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P 1 2 3", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P abc 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P 0x10 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P nan 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P inf 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P 1e999 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P 1e 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"P 10,5 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"p 1", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"x", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"\\bogus", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"set_pos 1 2", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"!p", Command::kInvalid, '\0', 0, 0},
                      ParseCase{"+", Command::kInvalid, '\n', 0, 0},
                      ParseCase{"", Command::kInvalid, '\0', 0, 0}));

// --- Answers --------------------------------------------------------------------------------

Reply Position() {
    return Reply{Status::kOk, {{"Azimuth", "90.000000", ""}, {"Elevation", "45.000000", ""}}};
}

Reply Failed(Status status) {
    return Reply{status, {}};
}

Reply DumpLike() {
    return Reply{Status::kOk, {{"Minimum Azimuth", "0.000000", "min_az"}, {"", "done", ""}}};
}

struct FormatCase {
    const char* line;
    Reply reply;
    const char* expected;
};

class FormatReplyTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatReplyTest, IsTheDocumentedText) {
    EXPECT_EQ(FormatReply(ParseRequest(GetParam().line), GetParam().reply), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FormatReplyTest,
    ::testing::Values(
        FormatCase{"P 90 45", Reply{}, "RPRT 0\n"},
        FormatCase{"P 90 45", Failed(Status::kIoError), "RPRT -6\n"},
        FormatCase{"p", Position(), "90.000000\n45.000000\n"},
        FormatCase{"p", Failed(Status::kTimeout), "RPRT -5\n"},
        FormatCase{"x", Failed(Status::kInvalidArgument), "RPRT -1\n"},
        FormatCase{"\\dump_state", DumpLike(), "min_az=0.000000\ndone\n"},
        FormatCase{"+P 90 45", Reply{}, "set_pos: 90 45\nRPRT 0\n"},
        FormatCase{"|P 135 22.5", Reply{}, "set_pos: 135 22.5|RPRT 0\n"},
        FormatCase{"+\\get_pos", Position(),
                   "get_pos:\nAzimuth: 90.000000\nElevation: 45.000000\nRPRT 0\n"},
        FormatCase{";p", Position(), "get_pos:;Azimuth: 90.000000;Elevation: 45.000000;RPRT 0\n"},
        FormatCase{",S", Reply{}, "stop:,RPRT 0\n"},
        FormatCase{"+\\dump_state", DumpLike(),
                   "dump_state:\nMinimum Azimuth: 0.000000\ndone\nRPRT 0\n"},
        FormatCase{"+P abc 1", Failed(Status::kInvalidArgument), "set_pos: abc 1\nRPRT -1\n"},
        FormatCase{"+bogus", Failed(Status::kInvalidArgument), "RPRT -1\n"}));

// --- Cutting the stream into lines ----------------------------------------------------------

TEST(LineReaderTest, HandsOutOneLineAtATimeAcrossReads) {
    LineReader reader;
    std::string input = "P 45";
    EXPECT_EQ(reader.Feed(input), 4u);
    EXPECT_FALSE(reader.TakeLine());
    input = " 10\np\n";
    EXPECT_EQ(reader.Feed(input), 4u);            // stops after the first line end
    EXPECT_EQ(reader.Feed(input.substr(4)), 0u);  // until that line is taken
    auto line = reader.TakeLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text, "P 45 10");
    EXPECT_FALSE(line->overlong);
    EXPECT_EQ(reader.Feed(input.substr(4)), 2u);
    EXPECT_EQ(reader.TakeLine()->text, "p");
    EXPECT_FALSE(reader.TakeLine());
}

TEST(LineReaderTest, BoundsAnOverlongLineAndRecoversAfterIt) {
    LineReader reader;
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 50; ++i) EXPECT_EQ(reader.Feed(chunk), chunk.size());
    EXPECT_FALSE(reader.TakeLine());
    EXPECT_EQ(reader.Feed("x\np\n"), 2u);
    const auto overlong = reader.TakeLine();
    ASSERT_TRUE(overlong);
    EXPECT_TRUE(overlong->overlong);
    EXPECT_TRUE(overlong->text.empty());
    reader.Feed("p\n");
    EXPECT_EQ(reader.TakeLine()->text, "p");

    const std::string longest(kelmarotd::kMaxLineLength, 'y');
    reader.Feed(longest + "\n");
    EXPECT_FALSE(reader.TakeLine()->overlong);
    reader.Feed(longest + "y\n");
    EXPECT_TRUE(reader.TakeLine()->overlong);
}

}  // namespace
