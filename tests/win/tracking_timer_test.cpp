// The poll timer of the real operator window: elevation and azimuth polls in turn, checked at
// the simulated controller (their times where the program writes them), and the DDE connection
// retried before the azimuth poll only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/rotator_test_fixture.h"
#include "tests/win/support/write_watch.h"

namespace {

using rotator_tests::RotatorWindowTest;
using rotator_tests::Visible;
using testing_support::WriteWatch;

constexpr UINT kPollPeriodMs = 2000;
// One tick of Windows' timer clock (15.6 ms): a timer may fire this much before its time as a
// finer clock sees it.
constexpr int64_t kTimerGrainMicros = 16000;

class PollTimerTest : public RotatorWindowTest {
protected:
    void SetUp() override {
        RotatorWindowTest::SetUp();
        dialog_->m_tracking.m_bPollAzimuth = false;  // as at program start
    }
};

TEST_F(PollTimerTest, TicksPollElevationThenAzimuthInTurn) {
    std::string expected;
    for (const char* poll : {"E\r\n", "A\r\n", "E\r\n", "A\r\n"}) {
        Tick();
        expected += poll;
    }
    EXPECT_EQ(Visible(ReceivedAtLeast(expected.size())), Visible(expected));
    EXPECT_EQ(Visible(ReceivedAfterQuiet()), Visible(expected));
    EXPECT_EQ(dialog_->m_tracking.m_nLastAzimuth, -1000) << "polls are no commands";
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible(expected));
}

TEST_F(PollTimerTest, TheRealTimerPollsEveryTwoSeconds) {
    const WriteWatch watch;
    ASSERT_TRUE(watch.Active());
    const int64_t set = WriteWatch::NowMicros();
    SetTimer(hwnd(), ID_POLL_TIMER, kPollPeriodMs, nullptr);
    testing_support::PumpUntil([&] { return sim_.Received(kPort).size() >= 6; }, 3 * kPollPeriodMs);
    KillTimer(hwnd(), ID_POLL_TIMER);
    const std::vector<testing_support::TimedWrite> writes = watch.Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(Visible(writes[0].bytes), Visible("E\r\n"));
    EXPECT_EQ(Visible(writes[1].bytes), Visible("A\r\n"));
    // A timer keeps its phase: its n-th tick comes n periods after it was set, or later when the
    // window is busy or the machine loaded (which can bring two polls closer), never sooner.
    const int64_t periodMicros = kPollPeriodMs * int64_t{1000};
    EXPECT_GE(writes[0].startMicros - set, periodMicros - kTimerGrainMicros);
    EXPECT_GE(writes[1].startMicros - set, 2 * periodMicros - kTimerGrainMicros);
}

TEST_F(PollTimerTest, WithoutAConversationConnectIsTriedBeforeTheAzimuthPollOnly) {
    SetManual(true);                // the reset below then sends nothing
    dialog_->m_link.Disconnect(1);  // the server went away: the service name is released
    ASSERT_EQ(dialog_->m_link.m_hConv, nullptr);
    ASSERT_EQ(dialog_->m_link.m_hszService, nullptr);
    Tick();  // elevation poll: no Connect
    EXPECT_EQ(dialog_->m_link.m_hszService, nullptr);
    Tick();  // azimuth poll: Connect first, which takes the service name again
    EXPECT_NE(dialog_->m_link.m_hszService, nullptr);
    EXPECT_EQ(dialog_->m_link.m_hConv, nullptr) << "no prediction program runs";
    EXPECT_EQ(Visible(ReceivedAtLeast(6)), Visible("E\r\nA\r\n"));
}

TEST_F(PollTimerTest, PollsGoOnWithManualControl) {
    SetManual(true);
    Tick();
    Tick();
    EXPECT_EQ(Visible(ReceivedAtLeast(6)), Visible("E\r\nA\r\n"));
}

}  // namespace
