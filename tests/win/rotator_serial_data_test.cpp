// Received characters in the real operator window: lines cut out of the receive ring, position
// reports shown under "Current rotator position", every line echoed into the traffic log.
// Bytes come either straight through the ring (exact notification boundaries) or from the
// simulated controller over the serial line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/rotator_test_fixture.h"

namespace {

using rotator_tests::RotatorWindowTest;
using rotator_tests::Visible;

struct ReportCase {
    const char* name;
    std::string line;  // without its line end
    std::string azimuthShown;
    std::string elevationShown;
};

class PositionDisplayTest : public RotatorWindowTest,
                            public ::testing::WithParamInterface<ReportCase> {};

TEST_P(PositionDisplayTest, ShowsReportsOfItsOwnAxisOnly) {
    Deliver(GetParam().line + "\r\n");
    EXPECT_EQ(Text(IDC_POS_AZ), GetParam().azimuthShown);
    EXPECT_EQ(Text(IDC_POS_EL), GetParam().elevationShown);
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible(GetParam().line + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionDisplayTest,
    ::testing::Values(ReportCase{"Azimuth", "AZP 7       ", "007", "000"},
                      ReportCase{"AzimuthMoving", "AZP 7    MV ", "<007>", "000"},
                      ReportCase{"Elevation", "ELP 7       ", "000", "007"},
                      ReportCase{"ElevationMoving", "ELP 010.4 MV", "000", "<010>"},
                      ReportCase{"ElevenCharacters", "AZP 7      ", "000", "000"},
                      ReportCase{"SmallA", "aZP 7       ", "000", "000"},
                      ReportCase{"NoPThird", "AZX 7       ", "000", "000"},
                      ReportCase{"Wide", "AZP 1234    ", "1234", "000"},
                      ReportCase{"NoDigits", "AZP ---     ", "000", "000"},
                      ReportCase{"Negative", "AZP -5      ", "-05", "000"},
                      ReportCase{"MovingMarkerTooEarly", "AMPV 7      ", "007", "000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RotatorWindowTest, TwoLinesInOneNotificationAreHandledInOrder) {
    Deliver("AZP 010.0 MV\r\nAZP 020.0 ST\r\n");
    EXPECT_EQ(Text(IDC_POS_AZ), "020");
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible("AZP 010.0 MV\r\nAZP 020.0 ST\r\n"));
}

TEST_F(RotatorWindowTest, ALineWithoutItsEndWaitsForItAndIsHandledOnce) {
    Deliver("AZP 0");
    Deliver("45.0 M");
    EXPECT_EQ(Text(IDC_POS_AZ), "000");
    EXPECT_EQ(Text(IDC_LOG), "");
    Deliver("V\r");
    EXPECT_EQ(Text(IDC_POS_AZ), "<045>");
    Deliver("\n");
    Deliver("");
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible("AZP 045.0 MV\r\n"));
}

TEST_F(RotatorWindowTest, CrAloneLfAloneAndCrLfEachEndALineWithoutEmptyLogEntries) {
    Deliver("one\rtwo\nthree\r\n\r\n\n\r");
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible("one\r\ntwo\r\nthree\r\n"));
}

TEST_F(RotatorWindowTest, ANulEndsALinesTextAndTheRestUpToTheLineEndIsDropped) {
    Deliver(std::string("AZP 12\0 MV junk\r\nok\r\n", 21));
    EXPECT_EQ(Text(IDC_POS_AZ), "000") << "6 characters before the NUL: no report";
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible("AZP 12\r\nok\r\n"));
}

TEST_F(RotatorWindowTest, LinesAcrossTheRingsWrapAreWhole) {
    // Walk the positions round the 100-byte ring a few times.
    for (int i = 0; i < 12; ++i) {
        const std::string line = "AZP " + std::to_string(100 + i) + "     ";
        Deliver(line.substr(0, 5));
        Deliver(line.substr(5) + "\r\n");
        EXPECT_EQ(Text(IDC_POS_AZ), std::to_string(100 + i));
    }
    EXPECT_EQ(dialog_->m_serial.m_pRxRead, dialog_->m_serial.m_pRxWrite);
}

TEST_F(RotatorWindowTest, RepliesFromTheControllerReachTheDisplaysAndTheLog) {
    // Over the serial line: the receive worker fills the ring, this window reads it.
    ASSERT_TRUE(sim_.Send(kPort, "AZP 123.0 ST\r\n"));
    EXPECT_TRUE(testing_support::PumpUntil([&] { return Text(IDC_POS_AZ) == "123"; }, kWaitMs))
        << Text(IDC_POS_AZ);
    EXPECT_EQ(Text(IDC_POS_EL), "000");

    ASSERT_TRUE(sim_.Send(kPort, "ELP 045.0 MV"));  // no line end yet
    testing_support::PumpMessages(500);
    EXPECT_EQ(Text(IDC_POS_EL), "000");
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible("AZP 123.0 ST\r\n"));

    ASSERT_TRUE(sim_.Send(kPort, "\r\n"));
    EXPECT_TRUE(testing_support::PumpUntil([&] { return Text(IDC_POS_EL) == "<045>"; }, kWaitMs))
        << Text(IDC_POS_EL);
    EXPECT_EQ(Text(IDC_POS_AZ), "123");
}

TEST_F(RotatorWindowTest, TheLogShowsCommandsAndRepliesOfAMixedExchange) {
    SetManual(true);
    SetText(IDC_AZ_EDIT, "45");
    Click(IDC_AZ_SET);
    ASSERT_TRUE(sim_.Send(kPort, "AZP 040.0 MV\r\nnoise\rELP 000.0 ST\n\r\n"));
    testing_support::PumpUntil(
        [&] { return Text(IDC_LOG).find("ELP 000.0 ST\r\n") != std::string::npos; }, kWaitMs);
    Click(IDC_EL_STOP);
    EXPECT_EQ(Visible(Text(IDC_LOG)),
              Visible("A\r\n45\r\nAZP 040.0 MV\r\nnoise\r\nELP 000.0 ST\r\nE\r\nS\r\n"));
    EXPECT_EQ(Text(IDC_POS_AZ), "<040>");
}

TEST_F(RotatorWindowTest, ThePollIsAnsweredAndTheAnswerShown) {
    ASSERT_TRUE(sim_.Auto(kPort, true));
    ASSERT_TRUE(SimClient::IsOk(sim_.Command("setpos 1 210 33")));
    Tick();
    Tick();
    EXPECT_TRUE(testing_support::PumpUntil(
        [&] { return Text(IDC_POS_AZ) == "210" && Text(IDC_POS_EL) == "033"; }, 5000))
        << Text(IDC_POS_AZ) << " " << Text(IDC_POS_EL);
}

}  // namespace
