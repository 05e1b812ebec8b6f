// A controller whose cable is pulled while the port is open (reads and writes fail) and then
// plugged in again.
#include <string>

#include "tests/win/serial_test_support.h"

namespace {

using serial_tests::DataWatch;
using serial_tests::SerialTest;

TEST_F(SerialTest, UnpluggedControllerLeavesWindowRunningAndReopensAfterReplug) {
    UsePorts({1, 3});
    OpenWindow(1);
    DataWatch watch(*m_dialog, /*forward=*/true);
    ASSERT_TRUE(m_sim.Send(1, "AZP 010.0 ST\r\n"));
    ASSERT_TRUE(watch.WaitFor(1));

    ASSERT_TRUE(m_sim.Unplug(1));
    watch.Reset();
    testing_support::PumpMessages(1000);
    // A worker that retried at once would notify thousands of times a second.
    EXPECT_LT(watch.Count(), 100u) << "failed reads are retried after a pause";
    m_dialog->SendCommand("E\r\n");  // must return, whatever the port says
    testing_support::PumpMessages(100);
    EXPECT_NE(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE) << "still ours until closed";

    // The operator moves to COM3 and back once the cable is in again.
    SelectPort(3);
    EXPECT_EQ(m_dialog->m_nPort, 3);
    ASSERT_TRUE(m_sim.Plug(1));
    ASSERT_TRUE(m_sim.Auto(1, false) && m_sim.Clear(1));
    SelectPort(1);
    EXPECT_EQ(m_dialog->m_nPort, 1);
    ASSERT_NE(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE) << "reopened";
    testing_support::PumpMessages(200);

    ASSERT_TRUE(m_sim.Send(1, "AZP 222.0 ST\r\n"));
    EXPECT_TRUE(testing_support::PumpUntil(
        [&] { return testing_support::ItemText(m_dialog->m_hWnd, IDC_POS_AZ) == "222"; },
        serial_tests::kWaitMs));
    EXPECT_EQ(m_dialog->SendCommand("A\r\n"), 1);
    EXPECT_TRUE(testing_support::PumpUntil([&] { return m_sim.Received(1) == "A\r\n"; },
                                           serial_tests::kWaitMs))
        << m_sim.Received(1);
}

TEST_F(SerialTest, CloseAfterUnplugReleasesThePort) {
    UsePorts({1});
    OpenWindow(1);
    ASSERT_TRUE(m_sim.Unplug(1));
    testing_support::PumpMessages(300);
    EXPECT_EQ(m_dialog->ClosePort(), 1);
    EXPECT_EQ(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_dialog->m_serial.m_dwThreadId, 0u);
    EXPECT_EQ(m_dialog->OpenPort(1), 0) << "nothing to open while unplugged";
    ASSERT_TRUE(m_sim.Plug(1));
    EXPECT_EQ(m_dialog->OpenPort(1), 1);
}

}  // namespace
