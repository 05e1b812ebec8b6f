// Automatic tracking in the real operator window: the prediction program's values (put into
// the link as it would store them) are shown and become rotator commands, checked byte for
// byte at the simulated controller, with the pause after an azimuth command timed where the
// program writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/win/rotator_test_fixture.h"
#include "tests/win/support/write_watch.h"

namespace {

using rotator_tests::RotatorWindowTest;
using rotator_tests::Visible;
using testing_support::WriteWatch;

constexpr int kNothingYet = -1000;
constexpr int64_t kPauseFloorMicros = 90000;  // the 100 ms pause, less the timers' grain

class TrackingTest : public RotatorWindowTest {
protected:
    // The link's values change and it tells the window, as after new "AzEl" data.
    void Update(int azimuth, int elevation, const char* name = "ISS") {
        dialog_->m_link.m_nAzimuth = azimuth;
        dialog_->m_link.m_nElevation = elevation;
        strncpy(dialog_->m_link.m_szSatellite, name, sizeof(dialog_->m_link.m_szSatellite) - 1);
        SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(ID_TRACKING_UPDATE, 0), 0);
    }

    void ExpectShown(const std::string& azimuth, const std::string& elevation,
                     const std::string& name) {
        EXPECT_EQ(Text(IDC_DDE_AZ), azimuth);
        EXPECT_EQ(Text(IDC_DDE_EL), elevation);
        EXPECT_EQ(Text(IDC_SAT_NAME), name);
    }

    void ExpectSent(const std::string& expected) {
        EXPECT_EQ(Visible(ReceivedAtLeast(expected.size())), Visible(expected));
        EXPECT_EQ(Visible(ReceivedAfterQuiet()), Visible(expected)) << "nothing more is sent";
    }

    // Time from the return of the azimuth command's write to the call of the elevation
    // command's, on the program's own clock.
    static int64_t PauseBeforeElevationCommand(const WriteWatch& watch) {
        const std::vector<testing_support::TimedWrite> writes = watch.Writes();
        for (size_t i = 0; i + 1 < writes.size(); ++i) {
            if (writes[i].bytes.rfind("A\r\n", 0) == 0 &&
                writes[i + 1].bytes.rfind("E\r\n", 0) == 0)
                return writes[i + 1].startMicros - writes[i].endMicros;
        }
        ADD_FAILURE() << "no elevation command was written right after an azimuth command";
        return -1;
    }
};

TEST_F(TrackingTest, WithoutDataNothingIsShownOrSentButTheName) {
    Update(kNothingYet, kNothingYet, "AO-7");
    ExpectShown("000", "000", "AO-7");
    ExpectSent("");
    EXPECT_EQ(dialog_->m_tracking.m_nLastAzimuth, kNothingYet);
    EXPECT_EQ(dialog_->m_tracking.m_nLastElevation, kNothingYet);
}

TEST_F(TrackingTest, TheFirstPositionSendsBothAxesWithAPauseBetween) {
    const WriteWatch watch;
    ASSERT_TRUE(watch.Active());
    Update(123, 45);
    ExpectShown("123", "045", "ISS");
    EXPECT_EQ(dialog_->m_tracking.m_nLastAzimuth, 123);
    EXPECT_EQ(dialog_->m_tracking.m_nLastElevation, 45);
    ExpectSent("A\r\n123\r\nE\r\n045\r\n");
    EXPECT_GE(PauseBeforeElevationCommand(watch), kPauseFloorMicros);
}

TEST_F(TrackingTest, OnlyWhatChangedIsSent) {
    Update(10, 20);
    ExpectSent("A\r\n010\r\nE\r\n020\r\n");
    ASSERT_TRUE(sim_.Clear(kPort));

    Update(10, 20);  // neither changed
    ExpectSent("");

    const DWORD start = GetTickCount();
    Update(11, 20);  // azimuth only: the command, then the pause
    EXPECT_GE(GetTickCount() - start, 90u);
    ExpectSent("A\r\n011\r\n");
    ASSERT_TRUE(sim_.Clear(kPort));

    Update(11, 21);  // elevation only
    ExpectSent("E\r\n021\r\n");
}

TEST_F(TrackingTest, ElevationMinus5IsTrackedAndSentAsZero) {
    Update(200, -5);
    ExpectShown("200", "-05", "ISS");
    ExpectSent("A\r\n200\r\nE\r\n000\r\n");
    EXPECT_EQ(dialog_->m_link.m_nElevation, 0) << "written back into the link";
    EXPECT_EQ(dialog_->m_tracking.m_nLastElevation, 0);
}

TEST_F(TrackingTest, ElevationMinus6IsShownButNothingIsSent) {
    Update(200, -6);
    ExpectShown("200", "-06", "ISS");
    ExpectSent("");
    EXPECT_EQ(dialog_->m_link.m_nElevation, -6);
    EXPECT_EQ(dialog_->m_tracking.m_nLastAzimuth, kNothingYet);
}

TEST_F(TrackingTest, EachNewNegativeElevationSendsZeroAgain) {
    Update(30, -3);
    ExpectSent("A\r\n030\r\nE\r\n000\r\n");
    ASSERT_TRUE(sim_.Clear(kPort));
    Update(30, -2);  // differs from the 0 last sent
    EXPECT_EQ(Text(IDC_DDE_EL), "-02");
    ExpectSent("E\r\n000\r\n");
    ASSERT_TRUE(sim_.Clear(kPort));
    Update(30, 0);
    ExpectSent("");
}

TEST_F(TrackingTest, ManualControlStopsCommandsButNotTheDisplay) {
    SetManual(true);
    Update(77, 12);
    ExpectShown("077", "012", "ISS");
    ExpectSent("");
    dialog_->m_tracking.m_bPollAzimuth = false;
    Tick();  // the polls go on
    Tick();
    ExpectSent("E\r\nA\r\n");
}

TEST_F(TrackingTest, SwitchingManualControlOffSendsWhatDiffersFromTheLastCommand) {
    SetManual(true);
    Update(100, 40);
    SetText(IDC_AZ_EDIT, "100");
    Click(IDC_AZ_SET);  // by hand, the same azimuth the prediction has
    ASSERT_EQ(Visible(ReceivedAtLeast(8)), Visible("A\r\n100\r\n"));
    ASSERT_TRUE(sim_.Clear(kPort));
    SetManual(false);
    ExpectSent("E\r\n040\r\n");
}

TEST_F(TrackingTest, SwitchingManualControlOffBeforeAnyDataSendsNothing) {
    SetManual(true);
    SetManual(false);
    ExpectSent("");
}

TEST_F(TrackingTest, ValuesOutOfEveryRangeFollowTheRulesAndTheWindowLivesOn) {
    Update(-10000, 10);  // below the lowest shown azimuth: as if no data
    ExpectShown("000", "000", "ISS");
    ExpectSent("");

    Update(100000, 999);  // shown and sent unchanged
    ExpectShown("100000", "999", "ISS");
    ExpectSent("A\r\n100000\r\nE\r\n999\r\n");

    Update(INT32_MAX, -100);  // elevation below -5: shown only
    ExpectShown("2147483647", "-100", "ISS");
    Update(INT32_MAX, INT32_MIN);  // below the lowest shown elevation: as if no data
    ExpectShown("2147483647", "-100", "ISS");
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(hwnd(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result), 0);
    Click(IDC_AZ_STOP);
    ExpectSent("A\r\n100000\r\nE\r\n999\r\nA\r\nS\r\n");
}

TEST_F(TrackingTest, WhenThePredictionProgramQuitsTheRotatorGoesToZero) {
    Update(250, 30);
    ExpectSent("A\r\n250\r\nE\r\n030\r\n");
    ASSERT_TRUE(sim_.Clear(kPort));
    const WriteWatch watch;
    ASSERT_TRUE(watch.Active());
    dialog_->m_link.Disconnect(1);  // as when the server ends the conversation
    ExpectShown("000", "000", "none");
    ExpectSent("A\r\n000\r\nE\r\n000\r\n");
    EXPECT_GE(PauseBeforeElevationCommand(watch), kPauseFloorMicros);
}

}  // namespace
