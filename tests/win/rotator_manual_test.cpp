// The manual controls of the real operator window, checked at the simulated controller: what a
// Set or Stop press sends, byte for byte, and what it leaves as the last commanded angles.
#include <gtest/gtest.h>

#include <string>

#include "tests/win/rotator_test_fixture.h"

namespace {

using rotator_tests::RotatorWindowTest;
using rotator_tests::Visible;

constexpr int kNothingYet = -1000;

struct SetCase {
    const char* name;
    int box;     // IDC_AZ_EDIT or IDC_EL_EDIT
    int button;  // the Set button beside it
    std::string typed;
    std::string sent;
    int stored;  // the last commanded angle afterwards
};

class ManualSetTest : public RotatorWindowTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(ManualSetTest, SendsTheClampedAngleAndStoresIt) {
    const SetCase& c = GetParam();
    SetManual(true);
    SetText(c.box, c.typed);
    Click(c.button);
    const bool azimuth = c.box == IDC_AZ_EDIT;
    EXPECT_EQ(azimuth ? dialog_->m_tracking.m_nLastAzimuth : dialog_->m_tracking.m_nLastElevation,
              c.stored);
    EXPECT_EQ(azimuth ? dialog_->m_tracking.m_nLastElevation : dialog_->m_tracking.m_nLastAzimuth,
              kNothingYet);
    EXPECT_EQ(Visible(ReceivedAtLeast(c.sent.size())), Visible(c.sent));
    EXPECT_EQ(Visible(ReceivedAfterQuiet()), Visible(c.sent)) << "nothing else is sent";
    EXPECT_EQ(Text(c.box), c.typed) << "the box keeps its text";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManualSetTest,
    ::testing::Values(
        SetCase{"EmptyAzimuthBox", IDC_AZ_EDIT, IDC_AZ_SET, "", "A\r\n0\r\n", 0},
        SetCase{"Azimuth45", IDC_AZ_EDIT, IDC_AZ_SET, "45", "A\r\n45\r\n", 45},
        SetCase{"Azimuth400", IDC_AZ_EDIT, IDC_AZ_SET, "400", "A\r\n360\r\n", 360},
        SetCase{"Elevation181", IDC_EL_EDIT, IDC_EL_SET, "181", "E\r\n180\r\n", 180},
        SetCase{"Elevation007", IDC_EL_EDIT, IDC_EL_SET, "007", "E\r\n7\r\n", 7},
        SetCase{"PastedNegativeAzimuth", IDC_AZ_EDIT, IDC_AZ_SET, "-45", "A\r\n0\r\n", 0},
        SetCase{"PastedNegativeElevation", IDC_EL_EDIT, IDC_EL_SET, "-1", "E\r\n0\r\n", 0},
        SetCase{"PastedText", IDC_AZ_EDIT, IDC_AZ_SET, "north", "A\r\n0\r\n", 0},
        // 20 characters: only the first 19 are read, so the last digit is not.
        SetCase{"TwentyCharacters", IDC_AZ_EDIT, IDC_AZ_SET, "00000000000000000123", "A\r\n12\r\n",
                12},
        // Far beyond 32 bits: saturates and clamps; it never wraps to some other angle.
        SetCase{"HugeAzimuth", IDC_AZ_EDIT, IDC_AZ_SET, "4294967341", "A\r\n360\r\n", 360},
        SetCase{"HugeElevation", IDC_EL_EDIT, IDC_EL_SET, "9999999999999999999", "E\r\n180\r\n",
                180}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RotatorWindowTest, SetTwiceWithTheSameValueSendsTwice) {
    SetManual(true);
    SetText(IDC_AZ_EDIT, "45");
    Click(IDC_AZ_SET);
    Click(IDC_AZ_SET);
    const std::string expected = "A\r\n45\r\nA\r\n45\r\n";
    EXPECT_EQ(Visible(ReceivedAtLeast(expected.size())), Visible(expected));
}

TEST_F(RotatorWindowTest, SetButtonsFollowManualControlAndStopButtonsAreAlwaysEnabled) {
    for (bool manual : {false, true, false}) {
        SetManual(manual);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(hwnd(), IDC_AZ_SET)) != FALSE, manual);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(hwnd(), IDC_EL_SET)) != FALSE, manual);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd(), IDC_AZ_STOP)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd(), IDC_EL_STOP)));
    }
}

TEST_F(RotatorWindowTest, StopSendsInBothManualStatesAndLeavesTheLastAnglesAlone) {
    SetManual(true);
    SetText(IDC_AZ_EDIT, "100");
    SetText(IDC_EL_EDIT, "20");
    Click(IDC_AZ_SET);
    Click(IDC_EL_SET);
    std::string expected = "A\r\n100\r\nE\r\n20\r\n";
    for (bool manual : {true, false}) {
        SetManual(manual);
        Click(IDC_AZ_STOP);
        Click(IDC_EL_STOP);
        expected += "A\r\nS\r\nE\r\nS\r\n";
        EXPECT_EQ(dialog_->m_tracking.m_nLastAzimuth, 100);
        EXPECT_EQ(dialog_->m_tracking.m_nLastElevation, 20);
    }
    // Switching manual control off sends nothing here: the link has no data yet.
    EXPECT_EQ(Visible(ReceivedAtLeast(expected.size())), Visible(expected));
    EXPECT_EQ(Visible(ReceivedAfterQuiet()), Visible(expected));
}

TEST_F(RotatorWindowTest, EveryCommandSentIsEchoedIntoTheLog) {
    SetManual(true);
    SetText(IDC_EL_EDIT, "30");
    Click(IDC_EL_SET);
    Click(IDC_AZ_STOP);
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible("E\r\n30\r\nA\r\nS\r\n"));
}

}  // namespace

namespace {

TEST_F(RotatorWindowTest, ASetMovesTheControllerAndItsReportsComeBackToTheWindow) {
    ASSERT_TRUE(sim_.Auto(kPort, true));
    ASSERT_TRUE(sim_.Ok("rate 1 60 60"));
    SetManual(true);
    SetText(IDC_AZ_EDIT, "30");
    Click(IDC_AZ_SET);
    SetText(IDC_EL_EDIT, "12");
    Click(IDC_EL_SET);
    // Poll as the timer does until both axes report standing at their targets.
    const bool arrived = testing_support::PumpUntil(
        [&] {
            Tick();
            testing_support::PumpMessages(200);
            return Text(IDC_POS_AZ) == "030" && Text(IDC_POS_EL) == "012";
        },
        15000);
    EXPECT_TRUE(arrived) << Text(IDC_POS_AZ) << " " << Text(IDC_POS_EL);
}

}  // namespace
