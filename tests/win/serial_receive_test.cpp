// The receive worker on the simulated controller: how received bytes reach the ring, when the
// window is told, and what a port change does to them.
#include <string>
#include <vector>

#include "tests/win/serial_test_support.h"

namespace {

using serial_tests::DataWatch;
using serial_tests::SerialTest;
using serial_tests::Unread;

std::string Letters(size_t count, char first) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += static_cast<char>(first + i % 26);
    return s;
}

class ReceiveTest : public SerialTest {
protected:
    void SetUp() override {
        UsePorts({1, 3});
        OpenWindow(1);
    }
};

struct ArrivalCase {
    const char* name;
    std::string bytes;               // sent by the controller in one write
    std::vector<size_t> writeSlots;  // write position at each notification
};

class Arrival : public ReceiveTest, public ::testing::WithParamInterface<ArrivalCase> {};

TEST_P(Arrival, StoresAtMostTwentyBytesPerNotification) {
    const ArrivalCase& c = GetParam();
    DataWatch watch(*m_dialog, /*forward=*/false);
    ASSERT_TRUE(m_sim.Send(1, c.bytes));
    watch.WaitFor(c.writeSlots.size());
    EXPECT_EQ(watch.WriteSlots(), c.writeSlots);
    EXPECT_EQ(Unread(*m_dialog), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Arrival,
    ::testing::Values(ArrivalCase{"StopCommandEcho", "A\r\nS\r\n", {6}},
                      ArrivalCase{"TwelveByteReply", "AZP 045.0\r\n", {11}},
                      ArrivalCase{"ReportLine", "AZP 045.0 ST\r\n", {14}},
                      ArrivalCase{"ExactlyTwenty", Letters(20, 'a'), {20}},
                      ArrivalCase{"TwentyFiveAsTwentyThenFive", Letters(25, 'a'), {20, 25}},
                      ArrivalCase{"FortyFiveAsThreeBlocks", Letters(45, 'A'), {20, 40, 45}}),
    [](const ::testing::TestParamInfo<ArrivalCase>& info) { return std::string(info.param.name); });

TEST_F(ReceiveTest, OverflowAbandonsUnreadBytesAndSkipsThatNotification) {
    DataWatch watch(*m_dialog, /*forward=*/false);
    for (char first : {'a', 'b', 'c', 'd'}) {
        ASSERT_TRUE(m_sim.Send(1, Letters(20, first)));
        ASSERT_TRUE(watch.WaitFor(watch.Count() + 1));
    }
    ASSERT_EQ(Unread(*m_dialog).size(), 80u);
    // 19 more make 99 unread; the 20th byte meets the read position.
    ASSERT_TRUE(m_sim.Send(1, Letters(20, 'e')));
    testing_support::PumpMessages(500);
    EXPECT_EQ(watch.Count(), 4u) << "no notification for the pass that overflowed";
    EXPECT_EQ(Unread(*m_dialog), "");
    ASSERT_TRUE(m_sim.Send(1, "AZP 1\r\n"));
    ASSERT_TRUE(watch.WaitFor(5));
    EXPECT_EQ(watch.WriteSlots().back(), 7u);
    EXPECT_EQ(Unread(*m_dialog), "AZP 1\r\n") << "the ring starts afresh";
}

TEST_F(ReceiveTest, UnfinishedLineSurvivesPortChangeAndJoinsNewPortsBytes) {
    DataWatch watch(*m_dialog, /*forward=*/false);
    ASSERT_TRUE(m_sim.Send(1, "AZP 1"));
    ASSERT_TRUE(watch.WaitFor(1));
    SelectPort(3);
    ASSERT_EQ(m_dialog->m_nPort, 3);
    EXPECT_EQ(Unread(*m_dialog), "AZP 1") << "closing does not touch the ring";
    testing_support::PumpMessages(200);
    ASSERT_TRUE(m_sim.Send(3, "23.0 ST\r\n"));
    ASSERT_TRUE(watch.WaitFor(2));
    EXPECT_EQ(Unread(*m_dialog), "AZP 123.0 ST\r\n");
}

TEST_F(ReceiveTest, BytesWaitingBeforeTheOpenArriveWithoutFurtherTraffic) {
    DataWatch watch(*m_dialog, /*forward=*/false);
    ASSERT_TRUE(m_sim.Send(3, "ELP 033.0 ST\r\n"));
    testing_support::PumpMessages(200);
    SelectPort(3);
    ASSERT_TRUE(watch.WaitFor(1));
    EXPECT_EQ(Unread(*m_dialog), "ELP 033.0 ST\r\n");
}

TEST_F(ReceiveTest, ReportSplitAcrossPortChangeIsShownWhole) {
    DataWatch watch(*m_dialog, /*forward=*/true);
    ASSERT_TRUE(m_sim.Send(1, "AZP 2"));
    ASSERT_TRUE(watch.WaitFor(1));
    SelectPort(3);
    testing_support::PumpMessages(200);
    ASSERT_TRUE(m_sim.Send(3, "71.0 MV\r\n"));
    ASSERT_TRUE(watch.WaitFor(2));
    EXPECT_EQ(testing_support::ItemText(m_dialog->m_hWnd, IDC_POS_AZ), "<271>");
}

TEST_F(ReceiveTest, NotificationInFlightDoesNotHoldUpClose) {
    DataWatch watch(*m_dialog, /*forward=*/true);
    ASSERT_TRUE(m_sim.Send(1, "ELP 010.0 ST\r\n"));
    // The UI thread is busy: the worker's notification waits for it.
    Sleep(500);
    ASSERT_EQ(watch.Count(), 0u);
    EXPECT_EQ(m_dialog->ClosePort(), 1);
    EXPECT_EQ(watch.Count(), 1u) << "handled while ClosePort waited";
    EXPECT_EQ(testing_support::ItemText(m_dialog->m_hWnd, IDC_POS_EL), "010");
    EXPECT_EQ(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_dialog->m_serial.m_dwThreadId, 0u);
    EXPECT_EQ(m_dialog->m_serial.m_bStopThread, FALSE);
}

// Runs the port operations from inside the window's ID_SERIAL_DATA, as a handler nested in a
// waiting ClosePort would.
struct NestedCalls {
    static inline ui::CRotatorDlg* dialog = nullptr;
    static inline WNDPROC oldProc = nullptr;
    static inline std::vector<int> results;  // SendCommand, OpenPort, ClosePort
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND && wParam == MAKEWPARAM(ID_SERIAL_DATA, 0) && results.empty()) {
            results = {dialog->SendCommand("A\r\nS\r\n"), dialog->OpenPort(3), dialog->ClosePort()};
        }
        return CallWindowProcA(oldProc, hwnd, message, wParam, lParam);
    }
};

TEST_F(ReceiveTest, PortOperationsNestedInClosingAreRefused) {
    NestedCalls::dialog = m_dialog.get();
    NestedCalls::results.clear();
    NestedCalls::oldProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        m_dialog->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NestedCalls::Proc)));
    ASSERT_TRUE(m_sim.Send(1, "ELP 010.0 ST\r\n"));
    Sleep(500);  // the notification is on its way when ClosePort begins
    EXPECT_EQ(m_dialog->ClosePort(), 1);
    EXPECT_EQ(NestedCalls::results, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_dialog->m_serial.m_dwThreadId, 0u);
    testing_support::PumpMessages(200);
    EXPECT_EQ(m_sim.Received(1), "") << "no write to a port that is being closed";
    EXPECT_EQ(m_sim.Received(3), "");
    EXPECT_EQ(m_dialog->OpenPort(3), 1) << "the outer close left things in order";
    SetWindowLongPtrA(m_dialog->m_hWnd, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(NestedCalls::oldProc));
}

TEST_F(ReceiveTest, CloseEndsWorkerWaitingForData) {
    const HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, m_dialog->m_serial.m_dwThreadId);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(m_dialog->ClosePort(), 1);
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0) << "the worker has ended";
    CloseHandle(worker);
    EXPECT_EQ(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_dialog->m_serial.m_dwThreadId, 0u);
}

TEST_F(ReceiveTest, PortChangesWhileControllerStreamsKeepTheLinkWorking) {
    DataWatch watch(*m_dialog, /*forward=*/true);
    constexpr int kChanges = 60;
    {
        serial_tests::Streamer streamer(1);
        for (int i = 0; i < kChanges; ++i) {
            const int next = i % 2 == 0 ? 3 : 1;
            SelectPort(next);  // closes the port the controller is streaming on
            streamer.Follow(next);
            ASSERT_NE(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE) << "change " << i;
            ASSERT_NE(m_dialog->m_serial.m_dwThreadId, 0u) << "change " << i;
            serial_tests::PumpFor(20);
        }
        EXPECT_GT(streamer.Sent(), 0);
    }
    ASSERT_EQ(m_dialog->m_nPort, 1);
    // Drop what the controller still has queued and let the window catch up.
    ASSERT_TRUE(m_sim.Command("flush 1").rfind("ok", 0) == 0);
    for (size_t seen = ~size_t{0}; seen != watch.Count();) {
        seen = watch.Count();
        testing_support::PumpMessages(300);
    }
    // Whatever the changes cut off, the next complete report is shown.
    ASSERT_TRUE(m_sim.Send(1, "\r\nAZP 301.0 ST\r\n"));
    EXPECT_TRUE(testing_support::PumpUntil(
        [&] { return testing_support::ItemText(m_dialog->m_hWnd, IDC_POS_AZ) == "301"; },
        serial_tests::kWaitMs))
        << testing_support::ItemText(m_dialog->m_hWnd, IDC_POS_AZ);
}

}  // namespace
