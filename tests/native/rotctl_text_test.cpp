#include "kelmarotd/rotctl_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

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
    ::testing::Values(
        ParseCase{"P 45 10", Command::kSetPosition, '\0', 45, 10},
        ParseCase{"\\set_pos 163.5 -2.25", Command::kSetPosition, '\0', 163.5, -2.25},
        ParseCase{"P\t1e2  +3.", Command::kSetPosition, '\0', 100, 3},
        ParseCase{"+P 90 45", Command::kSetPosition, '\n', 90, 45},
        ParseCase{"|\\set_pos .5 22.5", Command::kSetPosition, '|', 0.5, 22.5},
        // A comma as the decimal point, as Gpredict sends it in a German locale.
        ParseCase{"P 180,00 30,00", Command::kSetPosition, '\0', 180, 30},
        ParseCase{"P -1,5 2,25e1", Command::kSetPosition, '\0', -1.5, 22.5},
        ParseCase{",P 1,5 ,5", Command::kSetPosition, ',', 1.5, 0.5},
        ParseCase{"p", Command::kGetPosition, '\0', 0, 0},
        ParseCase{"  \\get_pos", Command::kGetPosition, '\0', 0, 0},
        ParseCase{";p", Command::kGetPosition, ';', 0, 0},
        ParseCase{",S", Command::kStop, ',', 0, 0}, ParseCase{"\\stop", Command::kStop, '\0', 0, 0},
        ParseCase{"K", Command::kPark, '\0', 0, 0},
        ParseCase{"+\\park", Command::kPark, '\n', 0, 0},
        ParseCase{"_", Command::kGetInfo, '\0', 0, 0},
        ParseCase{"\\get_info", Command::kGetInfo, '\0', 0, 0},
        ParseCase{"\\dump_state", Command::kDumpState, '\0', 0, 0},
        ParseCase{"q", Command::kQuit, '\0', 0, 0}, ParseCase{"\\quit", Command::kQuit, '\0', 0, 0},
        // A backslash before a one-letter name. Look4Sat from 3.1.4 until its change #206 sends
        // "\P az el" with Kotlin's Double.toString numbers (rt-bishop/Look4Sat,
        // data/src/main/java/com/rtbishop/look4sat/data/framework/NetworkReporter.kt).
        ParseCase{"\\P 182.51234567891234 36.30000000000001", Command::kSetPosition, '\0',
                  182.51234567891234, 36.30000000000001},
        ParseCase{"\\P 183.7 1.0E-4", Command::kSetPosition, '\0', 183.7, 1e-4},
        ParseCase{"+\\P 90 45", Command::kSetPosition, '\n', 90, 45},
        ParseCase{"\\p", Command::kGetPosition, '\0', 0, 0},
        ParseCase{"\\S", Command::kStop, '\0', 0, 0}, ParseCase{"\\K", Command::kPark, '\0', 0, 0},
        ParseCase{"\\_", Command::kGetInfo, '\0', 0, 0},
        ParseCase{"\\q", Command::kQuit, '\0', 0, 0},
        ParseCase{"\\M 8 50", Command::kNotAvailable, '\0', 0, 0},
        // Hamlib's other rotator commands, whatever their arguments.
        ParseCase{"M 8 50", Command::kNotAvailable, '\0', 0, 0},
        ParseCase{"\\move LEFT 50", Command::kNotAvailable, '\0', 0, 0},
        ParseCase{"R", Command::kNotAvailable, '\0', 0, 0},
        ParseCase{"+C token 1", Command::kNotAvailable, '\n', 0, 0},
        ParseCase{"\\get_conf min_az", Command::kNotAvailable, '\0', 0, 0},
        ParseCase{"x rot_parm", Command::kNotAvailable, '\0', 0, 0},
        ParseCase{"w raw bytes to the device", Command::kNotAvailable, '\0', 0, 0},
        ParseCase{"1", Command::kNotAvailable, '\0', 0, 0},
        // Nothing to answer.
        ParseCase{"", Command::kBlank, '\0', 0, 0}, ParseCase{" \t ", Command::kBlank, '\0', 0, 0},
        ParseCase{"# P 10 10", Command::kBlank, '\0', 0, 0},
        ParseCase{"  #", Command::kBlank, '\0', 0, 0},
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
        ParseCase{"P 1,2,3 1", Command::kInvalid, '\0', 0, 0},
        ParseCase{"P 1,5.5 1", Command::kInvalid, '\0', 0, 0},
        ParseCase{"P , 1", Command::kInvalid, '\0', 0, 0},
        ParseCase{"P 45 10\r", Command::kInvalid, '\0', 0, 0},
        ParseCase{"p 1", Command::kInvalid, '\0', 0, 0},
        ParseCase{"Z", Command::kInvalid, '\0', 0, 0},
        ParseCase{"\\bogus", Command::kInvalid, '\0', 0, 0},
        ParseCase{"\\", Command::kInvalid, '\0', 0, 0},
        ParseCase{"\\P1 2", Command::kInvalid, '\0', 0, 0},  // the letter must stand alone
        ParseCase{"\\Z", Command::kInvalid, '\0', 0, 0},
        ParseCase{"\\P 45", Command::kInvalid, '\0', 0, 0},
        ParseCase{"get_pos", Command::kInvalid, '\0', 0, 0},
        ParseCase{"!p", Command::kInvalid, '\0', 0, 0},
        ParseCase{"+", Command::kInvalid, '\n', 0, 0},
        ParseCase{"+#", Command::kInvalid, '\n', 0, 0}));

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
        FormatCase{"Z", Failed(Status::kInvalidArgument), "RPRT -1\n"},
        FormatCase{"M 8 50", Failed(Status::kNotAvailable), "RPRT -11\n"},
        FormatCase{"+M 8 50", Failed(Status::kNotAvailable), "move: 8 50\nRPRT -11\n"},
        FormatCase{"\\dump_state", DumpLike(), "min_az=0.000000\ndone\n"},
        FormatCase{"+P 90 45", Reply{}, "set_pos: 90 45\nRPRT 0\n"},
        FormatCase{"+\\P 90 45", Reply{}, "set_pos: 90 45\nRPRT 0\n"},
        FormatCase{"|P 135 22.5", Reply{}, "set_pos: 135 22.5|RPRT 0\n"},
        FormatCase{"+\\get_pos", Position(),
                   "get_pos:\nAzimuth: 90.000000\nElevation: 45.000000\nRPRT 0\n"},
        FormatCase{";p", Position(), "get_pos:;Azimuth: 90.000000;Elevation: 45.000000;RPRT 0\n"},
        FormatCase{",S", Reply{}, "stop:,RPRT 0\n"},
        FormatCase{"+\\dump_state", DumpLike(),
                   "dump_state:\nMinimum Azimuth: 0.000000\ndone\nRPRT 0\n"},
        FormatCase{"+P abc 1", Failed(Status::kInvalidArgument), "set_pos: abc 1\nRPRT -1\n"},
        FormatCase{"+bogus", Failed(Status::kInvalidArgument), "RPRT -1\n"}));

// Hamlib's network rotator client reads the default form when it connects: before 4.5.1 the
// four plain numbers after the model line, from 4.5.1 the key=value lines up to "done".
TEST(DumpStateTest, DefaultFormServesBothClientGenerationsAndExtendedFormNamesTheValues) {
    const kelmarotd::Reply reply = kelmarotd::DumpStateReply({90, 270, 5, 60});
    EXPECT_EQ(FormatReply(ParseRequest("\\dump_state"), reply),
              "1\n2\n90.000000\n270.000000\n5.000000\n60.000000\n"
              "min_az=90.000000\nmax_az=270.000000\nmin_el=5.000000\nmax_el=60.000000\n"
              "south_zero=0\nrot_type=AzEl\ndone\n");
    EXPECT_EQ(FormatReply(ParseRequest("+\\dump_state"), reply),
              "dump_state:\nrotctld Protocol Ver: 1\nRotor Model: 2\n"
              "Minimum Azimuth: 90.000000\nMaximum Azimuth: 270.000000\n"
              "Minimum Elevation: 5.000000\nMaximum Elevation: 60.000000\n"
              "South Zero: 0\nrot_type=AzEl\ndone\nRPRT 0\n");
}

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

// Takes every line out of `input` fed in pieces of `piece` bytes.
std::vector<std::string> LinesOf(std::string_view input, size_t piece) {
    LineReader reader;
    std::vector<std::string> lines;
    for (size_t at = 0; at < input.size(); at += piece) {
        std::string_view chunk = input.substr(at, piece);
        while (!chunk.empty()) {
            chunk.remove_prefix(reader.Feed(chunk));
            if (auto line = reader.TakeLine()) lines.push_back(line->text);
        }
    }
    return lines;
}

TEST(LineReaderTest, EndsLinesAtLfCrOrCrLfWhereverTheReadsSplitThem) {
    const std::string input = "p\nP 1 2\r\n_\rS\r\r\n\nK\n\r";
    const std::vector<std::string> expected{"p", "P 1 2", "_", "S", "", "", "K", ""};
    for (size_t piece = 1; piece <= input.size(); ++piece)
        EXPECT_EQ(LinesOf(input, piece), expected) << "read " << piece << " bytes at a time";
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
