// The end of the program through the modal run while the controller streams: the close box
// ends the run, the window goes, and the receive worker must have stopped once the operator
// window's object is gone, every time.
#include <windows.h>

#include "tests/win/serial_test_support.h"

namespace {

using serial_tests::SerialTest;

constexpr int kRounds = 20;

// Whether the thread with this id still runs.
bool ThreadRuns(DWORD id) {
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) return false;
    const bool runs = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return runs;
}

// Closes the modal window from inside its own loop, as the close box does.
void CALLBACK CancelMainWindow(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostMessageA(AfxGetApp()->m_pMainWnd->m_hWnd, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(SerialTest, ClosingTheModalWindowWhileStreamingEndsCleanlyEveryTime) {
    UsePorts({1});
    testing_support::PumpMessages(10);  // links in the test support's application object
    ASSERT_NE(AfxGetApp(), nullptr);
    serial_tests::Streamer streamer(1);
    for (int round = 0; round < kRounds; ++round) {
        DWORD worker = 0;
        ASSERT_TRUE(m_sim.Command("flush 1").rfind("ok", 0) == 0);
        {
            CRotatorDlg dialog;
            dialog.m_nPort = 1;
            AfxGetApp()->m_pMainWnd = &dialog;
            SetTimer(nullptr, 0, 100 + round * 13 % 200, &CancelMainWindow);
            EXPECT_EQ(dialog.DoModal(), IDCANCEL);
            worker = dialog.m_dwThreadId;
            EXPECT_NE(worker, 0u) << "the port stays open until the object goes";
        }
        AfxGetApp()->m_pMainWnd = nullptr;
        EXPECT_FALSE(ThreadRuns(worker)) << "round " << round;
    }
}

}  // namespace
