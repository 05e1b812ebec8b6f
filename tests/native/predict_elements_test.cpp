#include "predict/elements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using predict::ElementFile;
using predict::ElementSet;
using predict::ParseElementFile;

// Celestrak's example set (the ISS on 2008-09-20), as its "NORAD Two-Line Element Set Format"
// page shows it.
const std::string kName = "ISS (ZARYA)             ";
const std::string kLine1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const std::string kLine2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";

TEST(ElementFileTest, ReadsEveryFieldOfASet) {
    const ElementFile file = ParseElementFile(kName + "\n" + kLine1 + "\n" + kLine2 + "\n");
    ASSERT_EQ(file.sets.size(), 1u);
    EXPECT_TRUE(file.problems.empty());
    const ElementSet& set = file.sets[0];
    EXPECT_EQ(set.name, "ISS (ZARYA)");
    EXPECT_EQ(set.catalogue_number, 25544);
    EXPECT_EQ(set.classification, 'U');
    EXPECT_EQ(set.international_designator, "98067A");
    EXPECT_EQ(set.epoch.day, 2454729.5);  // 2008-09-20, the year's day 264
    EXPECT_EQ(set.epoch.fraction, 0.51782528);
    EXPECT_EQ(set.ndot_over_2_rev_per_day2, -0.00002182);
    EXPECT_EQ(set.nddot_over_6_rev_per_day3, 0.0);
    EXPECT_DOUBLE_EQ(set.bstar_per_earth_radius, -1.1606e-5);
    EXPECT_EQ(set.element_number, 292);
    EXPECT_EQ(set.inclination_deg, 51.6416);
    EXPECT_EQ(set.right_ascension_deg, 247.4627);
    EXPECT_EQ(set.eccentricity, 0.0006703);
    EXPECT_EQ(set.argument_of_perigee_deg, 130.536);
    EXPECT_EQ(set.mean_anomaly_deg, 325.0288);
    EXPECT_EQ(set.mean_motion_rev_per_day, 15.72125391);
    EXPECT_EQ(set.revolution_number, 56353);
    EXPECT_EQ(set.line_number, 2);
}

struct LayoutCase {
    const char* name;
    std::string text;
    std::vector<std::string> names;  // of the sets read
    std::vector<int> lineNumbers;    // of the sets' line 1
};

class ElementLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ElementLayoutTest, ReadsTheFilesTrackingProgramsKeep) {
    const ElementFile file = ParseElementFile(GetParam().text);
    EXPECT_TRUE(file.problems.empty()) << file.problems[0].reason;
    std::vector<std::string> names;
    std::vector<int> lineNumbers;
    for (const ElementSet& set : file.sets) {
        names.push_back(set.name);
        lineNumbers.push_back(set.line_number);
    }
    EXPECT_EQ(names, GetParam().names);
    EXPECT_EQ(lineNumbers, GetParam().lineNumbers);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ElementLayoutTest,
    ::testing::Values(LayoutCase{"CelestrakWithCrLf",
                                 kName + "\r\n" + kLine1 + "\r\n" + kLine2 + "\r\nAO-7\r\n" +
                                     kLine1 + "\r\n" + kLine2 + "\r\n",
                                 {"ISS (ZARYA)", "AO-7"},
                                 {2, 5}},
                      LayoutCase{"BareTwoLineNoFinalLineEnd",
                                 kLine1 + "\n" + kLine2 + "\n" + kLine1 + "\n" + kLine2,
                                 {"", ""},
                                 {1, 3}},
                      LayoutCase{"SpaceTrackThreeLine",
                                 "0 ISS (ZARYA)\n" + kLine1 + "\n" + kLine2 + "\n",
                                 {"ISS (ZARYA)"},
                                 {2}},
                      LayoutCase{"BlankLinesAndTrailingBlanks",
                                 "\n  \nISS\t \n\n" + kLine1 + "  \n\r\n" + kLine2 + " \t\n\n",
                                 {"ISS"},
                                 {5}},
                      LayoutCase{
                          "OldMacLineEnds", "ISS\r" + kLine1 + "\r" + kLine2 + "\r", {"ISS"}, {2}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    std::string line1, line2;
    int lineNumber;  // with the name on line 1
    const char* reason;
};

class ElementRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ElementRefusalTest, RefusesTheSetWithItsLineAndKeepsTheOthers) {
    const RefusalCase& c = GetParam();
    const ElementFile file =
        ParseElementFile("BAD\n" + c.line1 + "\n" + c.line2 + "\nGOOD\n" + kLine1 + "\n" + kLine2);
    ASSERT_EQ(file.problems.size(), 1u);
    EXPECT_EQ(file.problems[0].line_number, c.lineNumber);
    EXPECT_EQ(file.problems[0].reason, c.reason);
    ASSERT_EQ(file.sets.size(), 1u);
    EXPECT_EQ(file.sets[0].name, "GOOD");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ElementRefusalTest,
    ::testing::Values(
        RefusalCase{"BadChecksum",
                    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2928", kLine2,
                    2, "checksum: the line adds up to 7, its last digit is 8"},
        RefusalCase{"MinusCountsOne", kLine1,
                    "2 25544  51.6416 247.4627 -006703 130.5360 325.0288 15.72125391563537", 3,
                    "checksum: the line adds up to 8, its last digit is 7"},
        RefusalCase{"ShortLine", kLine1, kLine2.substr(0, 68), 3,
                    "an element line has 69 characters, this one has 68"},
        RefusalCase{"LongLine", kLine1 + "0", kLine2, 2,
                    "an element line has 69 characters, this one has 70"},
        RefusalCase{"ControlCharacter",
                    "1 25544U 98067A \x01 08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
                    kLine2, 2, "column 17 holds a character that is not text"},
        RefusalCase{"CatalogueNumbersDiffer", kLine1,
                    "2 25545  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563538", 3,
                    "catalogue number 25545 differs from line 1's 25544"},
        RefusalCase{"InclinationAbove180", kLine1,
                    "2 25544 181.0000 247.4627 0006703 130.5360 325.0288 15.72125391563534", 3,
                    "the inclination 181.0000 is outside 0..180 degrees"},
        RefusalCase{"ArgumentOfPerigeeAbove360", kLine1,
                    "2 25544  51.6416 247.4627 0006703 361.0000 325.0288 15.72125391563539", 3,
                    "the argument of perigee 361.0000 is outside 0..360 degrees"},
        RefusalCase{"MeanMotionZero", kLine1,
                    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288  0.00000000563531", 3,
                    "the mean motion 0.00000000 is not above 0 revolutions a day"},
        RefusalCase{"NegativeEccentricity", kLine1,
                    "2 25544  51.6416 247.4627 -006703 130.5360 325.0288 15.72125391563538", 3,
                    "the eccentricity (columns 27-33) is not 7 digits: \"-006703\""},
        RefusalCase{"EpochDayZero",
                    "1 25544U 98067A   08000.51782528 -.00002182  00000-0 -11606-4 0  2925", kLine2,
                    2, "the epoch day 000.51782528 is not a day of the year"},
        RefusalCase{"DragTermNotANumber",
                    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -116x6-4 0  2927", kLine2,
                    2, "B* (columns 54-61) is not a number in the form \" 12345-6\": \"-116x6-4\""},
        RefusalCase{"SeparatorMissing",
                    "1 25544U 98067A  x08264.51782528 -.00002182  00000-0 -11606-4 0  2927", kLine2,
                    2, "column 18 should be a space"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ElementFileTest, SaysWhichLinesAreLeftWithoutTheirSet) {
    const ElementFile file =
        ParseElementFile("LONELY NAME\nNAME\n" + kLine1 + "\nNEXT\n" + kLine2 + "\n" + kLine1 +
                         "\n" + kLine1 + "\n" + kLine2 + "\nLAST\n");
    ASSERT_EQ(file.problems.size(), 5u);
    EXPECT_EQ(file.problems[0].line_number, 1);
    EXPECT_EQ(file.problems[0].reason, "a name line without the two element lines after it");
    EXPECT_EQ(file.problems[1].line_number, 3);
    EXPECT_EQ(file.problems[1].reason, "line 1 without its line 2");
    EXPECT_EQ(file.problems[2].line_number, 5);
    EXPECT_EQ(file.problems[2].reason, "line 2 without a line 1 before it");
    EXPECT_EQ(file.problems[3].line_number, 6);
    EXPECT_EQ(file.problems[3].reason, "line 1 without its line 2");
    EXPECT_EQ(file.problems[4].line_number, 9);
    ASSERT_EQ(file.sets.size(), 1u);
    EXPECT_EQ(file.sets[0].line_number, 7);
    EXPECT_EQ(file.sets[0].name, "");
}

ElementSet Named(const std::string& name, int number, double epochDay) {
    ElementSet set{};
    set.name = name;
    set.catalogue_number = number;
    set.epoch = {epochDay, 0.0};
    return set;
}

TEST(ElementLookupTest, FindsByNameInAnyCaseOrByNumberTheNewestFirst) {
    const std::vector<ElementSet> sets = {
        Named("ISS (ZARYA)", 25544, 2460000.5), Named("AO-7", 7530, 2460000.5),
        Named("ISS (ZARYA)", 25544, 2460002.5), Named("ISS (ZARYA)", 25544, 2460001.5),
        Named("NEW SAT", 100001, 2460000.5)};
    EXPECT_EQ(predict::FindElementSet(sets, " iss (zarya) "), &sets[2]);
    EXPECT_EQ(predict::FindElementSet(sets, "25544"), &sets[2]);
    EXPECT_EQ(predict::FindElementSet(sets, "7530"), &sets[1]);
    EXPECT_EQ(predict::FindElementSet(sets, "07530"), &sets[1]);
    EXPECT_EQ(predict::FindElementSet(sets, "A0001"), &sets[4]);
    EXPECT_EQ(predict::FindElementSet(sets, "ISS"), nullptr);
    EXPECT_EQ(predict::FindElementSet(sets, ""), nullptr);
}

TEST(ElementLookupTest, OffersTheNamesThatComeClose) {
    const std::vector<ElementSet> sets = {
        Named("ISS (ZARYA)", 25544, 0), Named("AO-7", 7530, 0),    Named("AO-27", 22825, 0),
        Named("SO-50", 27607, 0),       Named("AO-73", 39444, 0),  Named("ISS (ZARYA)", 25544, 0),
        Named("NOAA 19", 33591, 0),     Named("NOAA 18", 28654, 0)};
    using Names = std::vector<std::string>;
    EXPECT_EQ(predict::NamesThatComeClose(sets, "iss"), Names({"ISS (ZARYA)"}));
    EXPECT_EQ(predict::NamesThatComeClose(sets, "NOAA-19"), Names({"NOAA 19", "NOAA 18"}));
    EXPECT_EQ(predict::NamesThatComeClose(sets, "AO-"), Names({"AO-27", "AO-7", "AO-73"}));
    EXPECT_EQ(predict::NamesThatComeClose(sets, "METEOR M2"), Names());
}

}  // namespace
