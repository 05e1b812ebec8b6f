// The end of the program through the modal run while the controller streams: the close box
// ends the run, the window goes, and the receive worker must have stopped once the operator
// window's object is gone, every time.
#include <windows.h>

#include <thread>

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

// Closes the dialog's window after the given time, by a posted message as the close box does.
// A timer would not do: the window's thread makes WM_TIMER only when no sent, posted or paint
// message waits, and the streaming keeps notifications and repaints coming, so a timer could
// wait for seconds or for ever.
class DelayedCancel {
public:
    DelayedCancel(const ui::CRotatorDlg& dialog, DWORD delayMs)
        : m_thread([&dialog, delayMs] {
              const DWORD start = GetTickCount();
              while (dialog.m_hWnd == nullptr && GetTickCount() - start < serial_tests::kWaitMs)
                  Sleep(1);
              Sleep(delayMs);
              PostMessageA(dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
          }) {}
    ~DelayedCancel() { m_thread.join(); }
    DelayedCancel(const DelayedCancel&) = delete;
    DelayedCancel& operator=(const DelayedCancel&) = delete;

private:
    std::thread m_thread;
};

TEST_F(SerialTest, ClosingTheModalWindowWhileStreamingEndsCleanlyEveryTime) {
    UsePorts({1});
    testing_support::PumpMessages(10);  // links in the test support's application object
    ASSERT_NE(framework::AfxGetApp(), nullptr);
    serial_tests::Streamer streamer(1);
    for (int round = 0; round < kRounds; ++round) {
        DWORD worker = 0;
        ASSERT_TRUE(m_sim.Command("flush 1").rfind("ok", 0) == 0);
        {
            ui::CRotatorDlg dialog;
            dialog.m_nPort = 1;
            framework::AfxGetApp()->m_pMainWnd = &dialog;
            {
                DelayedCancel cancel(dialog, 100 + round * 13 % 200);
                EXPECT_EQ(dialog.DoModal(), IDCANCEL);
            }
            worker = dialog.m_serial.m_dwThreadId;
            EXPECT_NE(worker, 0u) << "the port stays open until the object goes";
        }
        framework::AfxGetApp()->m_pMainWnd = nullptr;
        EXPECT_FALSE(ThreadRuns(worker)) << "round " << round;
    }
}

}  // namespace
