#include "kelmatrack/rotator_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelmarotd/rotctl_text.h"

namespace {

using kelmatrack::DumpStateReader;
using kelmatrack::RotatorLink;
using rotator::Position;

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(bytes.substr(start, end - start));
    return lines;
}

struct DumpStateCase {
    const char* name;
    std::string bytes;
    bool valid;
    plan::RotatorLimits limits;
    const char* error;
};

class DumpStateTest : public ::testing::TestWithParam<DumpStateCase> {};

TEST_P(DumpStateTest, ReadsTheLimitsOfEveryProtocolVersion) {
    const DumpStateCase& c = GetParam();
    DumpStateReader reader;
    DumpStateReader::Progress progress = DumpStateReader::Progress::kMore;
    for (const std::string& line : Lines(c.bytes)) {
        ASSERT_EQ(progress, DumpStateReader::Progress::kMore) << line;
        progress = reader.Feed(line);
    }
    if (!c.valid) {
        EXPECT_EQ(progress, DumpStateReader::Progress::kInvalid);
        EXPECT_EQ(reader.Error(), c.error);
        return;
    }
    ASSERT_EQ(progress, DumpStateReader::Progress::kDone) << reader.Error();
    EXPECT_EQ(reader.Limits().min_azimuth_deg, c.limits.min_azimuth_deg);
    EXPECT_EQ(reader.Limits().max_azimuth_deg, c.limits.max_azimuth_deg);
    EXPECT_EQ(reader.Limits().min_elevation_deg, c.limits.min_elevation_deg);
    EXPECT_EQ(reader.Limits().max_elevation_deg, c.limits.max_elevation_deg);
}

std::string KelmarotdDumpState() {
    return kelmarotd::FormatReply(kelmarotd::ParseRequest("\\dump_state"),
                                  kelmarotd::DumpStateReply({0, 360, 0, 180}));
}

std::string Endless() {
    std::string bytes = "1\n1\n";
    for (int i = 2; i <= kelmatrack::kMaxDumpStateLines; ++i) bytes += "south_zero=0\n";
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DumpStateTest,
    ::testing::Values(
        // Hamlib 4.5.4's rotctld -m 1 (the dummy rotator), as it answers here.
        DumpStateCase{"HamlibDummyProtocol1",
                      "1\n1\nmin_az=-180.000000\nmax_az=450.000000\nmin_el=0.000000\n"
                      "max_el=90.000000\nsouth_zero=0\nrot_type=AzEl\ndone\n",
                      true,
                      {-180, 450, 0, 90},
                      ""},
        // Older Hamlib releases' tests/rotctl_parse.c, protocol 0: "%lf" lines, no end mark.
        DumpStateCase{"HamlibProtocol0",
                      "0\n603\n0.000000\n450.000000\n0.000000\n180.000000\n",
                      true,
                      {0, 450, 0, 180},
                      ""},
        DumpStateCase{"Kelmarotd", KelmarotdDumpState(), true, {0, 360, 0, 180}, ""},
        DumpStateCase{"Refused", "RPRT -11\n", false, {}, "the server answered RPRT -11"},
        DumpStateCase{"NotAnAnswer", "Hello\n", false, {}, "no protocol version in \"Hello\""},
        DumpStateCase{
            "LimitMissing", "1\n1\nmin_az=0\nmax_az=360\nmin_el=0\ndone\n", false, {}, "no max_el"},
        DumpStateCase{
            "BadNumber", "1\n1\nmin_az=zero\n", false, {}, "no number in \"min_az=zero\""},
        DumpStateCase{"EmptyRange",
                      "0\n1\n10\n10\n0\n90\n",
                      false,
                      {},
                      "a lower limit is not below its upper limit"},
        DumpStateCase{"NoEnd", Endless(), false, {}, "no end after 65 lines"}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr const char* kDummyDumpState[] = {"1",          "1",           "min_az=-180", "max_az=450",
                                           "min_el=0.0", "max_el=90.0", "done"};

void Connect(RotatorLink* link, int64_t nowMs) {
    link->Start(nowMs);
    ASSERT_EQ(link->Take(), "\\dump_state\n");
    for (const char* line : kDummyDumpState) link->OnLine(line, nowMs);
}

TEST(RotatorLinkTest, SendsOnlyTheLatestPositionOnceTheServerHasAnswered) {
    RotatorLink link;
    link.Start(0);
    EXPECT_EQ(link.Take(), "\\dump_state\n");
    EXPECT_FALSE(link.Command({10, 20}, 0));
    EXPECT_EQ(link.Take(), "");  // not before the limits are known
    RotatorLink::Outcome outcome;
    for (const char* line : kDummyDumpState) outcome = link.OnLine(line, 100);
    EXPECT_TRUE(outcome.limitsLearned);
    EXPECT_EQ(outcome.sent, (Position{10, 20}));
    EXPECT_EQ(link.Limits().min_azimuth_deg, -180);
    EXPECT_EQ(link.Take(), "P 10 20\n");

    EXPECT_FALSE(link.Command({11, 20}, 200));
    EXPECT_FALSE(link.Command({12, 21}, 300));
    EXPECT_EQ(link.Take(), "");  // one position at a time
    outcome = link.OnLine("RPRT 0", 400);
    ASSERT_TRUE(outcome.set);
    EXPECT_EQ(*outcome.set, (Position{10, 20}));
    EXPECT_EQ(outcome.sent, (Position{12, 21}));  // 11 20 was overtaken before it went out
    EXPECT_EQ(link.Take(), "P 12 21\n");

    outcome = link.OnLine("RPRT -1", 500);
    EXPECT_EQ(outcome.refused, "RPRT -1");
    EXPECT_FALSE(outcome.set);
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.failure, "");
    EXPECT_EQ(link.Take(), "");
    EXPECT_EQ(link.Command({13, 22}, 600), (Position{13, 22}));  // nothing in flight: at once
    EXPECT_EQ(link.Take(), "P 13 22\n");
}

TEST(RotatorLinkTest, AnOverdueOrUnaskedAnswerEndsTheConnection) {
    RotatorLink link;
    link.Start(1000);
    EXPECT_FALSE(link.CheckTimeout(1000 + kelmatrack::kAnswerWaitMs));
    EXPECT_EQ(link.CheckTimeout(1001 + kelmatrack::kAnswerWaitMs), "no answer within 5 s");

    Connect(&link, 0);
    EXPECT_FALSE(link.CheckTimeout(60000));  // nothing asked, nothing due
    link.Command({1, 2}, 60000);
    EXPECT_EQ(link.CheckTimeout(60001 + kelmatrack::kAnswerWaitMs), "no answer within 5 s");
    EXPECT_EQ(link.OnLine("1.000000", 60002).failure, "\"1.000000\" in answer to a position");

    Connect(&link, 0);
    EXPECT_EQ(link.OnLine("RPRT 0", 1).failure, "\"RPRT 0\" unasked");
}

}  // namespace
