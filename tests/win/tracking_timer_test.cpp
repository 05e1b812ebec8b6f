// The poll timer of the real operator window: elevation and azimuth polls in turn, checked at
// the simulated controller, and the DDE connection retried before the azimuth poll only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/rotator_test_fixture.h"

namespace {

using rotator_tests::RotatorWindowTest;
using rotator_tests::Visible;

constexpr UINT kPollPeriodMs = 2000;

class PollTimerTest : public RotatorWindowTest {
protected:
    void SetUp() override {
        RotatorWindowTest::SetUp();
        g_bPollAzimuth = FALSE;  // as at program start
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
    EXPECT_EQ(dialog_->m_nLastAzimuth, -1000) << "polls are no commands";
    EXPECT_EQ(Visible(Text(IDC_LOG)), Visible(expected));
}

TEST_F(PollTimerTest, TheRealTimerPollsEveryTwoSeconds) {
    SetTimer(hwnd(), ID_POLL_TIMER, kPollPeriodMs, nullptr);
    testing_support::PumpUntil([&] { return sim_.Received(kPort).size() >= 6; }, 3 * kPollPeriodMs);
    KillTimer(hwnd(), ID_POLL_TIMER);
    const std::vector<std::pair<int64_t, std::string>> chunks = sim_.Chunks(kPort);
    ASSERT_GE(chunks.size(), 2u);
    EXPECT_EQ(Visible(chunks[0].second), Visible("E\r\n"));
    EXPECT_EQ(Visible(chunks[1].second), Visible("A\r\n"));
    // Timers may come late, never much early.
    EXPECT_GE(chunks[1].first - chunks[0].first, 1800000);
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
