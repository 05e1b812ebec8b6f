// A controller that stops taking bytes (a hung USB adapter, a stopped network link) while the
// program keeps writing: each write gives up within its bound, the window keeps answering, and
// commands flow again as soon as the controller takes bytes.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/win/serial_test_support.h"

namespace {

using serial_tests::SerialTest;

constexpr DWORD kAnswerLimitMs = 1000;  // the operator must never wait longer for the window
constexpr int kClicks = 5;

// Asks the window for its title from another thread, as an operator's tool or the desktop
// does, and keeps the longest round trip.
class Prober {
public:
    explicit Prober(HWND window) : m_thread([this, window] { Run(window); }) {}
    ~Prober() { Stop(); }
    Prober(const Prober&) = delete;
    Prober& operator=(const Prober&) = delete;

    DWORD Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        return m_longestMs;
    }

private:
    void Run(HWND window) {
        while (!m_stop) {
            const DWORD start = GetTickCount();
            DWORD_PTR length = 0;
            SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10 * kAnswerLimitMs,
                                &length);
            const DWORD took = GetTickCount() - start;
            if (took > m_longestMs) m_longestMs = took;
            Sleep(20);
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<DWORD> m_longestMs{0};
    std::thread m_thread;
};

TEST_F(SerialTest, StalledControllerNeverHoldsTheWindowAndCommandsFlowAfterwards) {
    UsePorts({1});
    OpenWindow(1);
    ASSERT_TRUE(m_sim.Stall(1, true));

    Prober prober(m_dialog->m_hWnd);
    for (int i = 0; i < kClicks; ++i) {
        const DWORD start = GetTickCount();
        SendMessageA(m_dialog->GetDlgItem(IDC_AZ_STOP), BM_CLICK, 0, 0);
        EXPECT_LT(GetTickCount() - start, kAnswerLimitMs) << "click " << i;
        serial_tests::PumpFor(50);
    }
    EXPECT_LT(prober.Stop(), kAnswerLimitMs) << "the window answered late while writes stalled";
    EXPECT_EQ(m_sim.Received(1), "") << "the stalled controller took nothing";
    // Every click's write was started: each is in the log as the operator's command.
    EXPECT_NE(testing_support::ItemText(m_dialog->m_hWnd, IDC_LOG).find("A\r\nS\r\n"),
              std::string::npos);

    ASSERT_TRUE(m_sim.Stall(1, false));
    EXPECT_EQ(m_dialog->SendCommand("E\r\nS\r\n"), 1);
    EXPECT_TRUE(testing_support::PumpUntil([&] { return m_sim.Received(1) == "E\r\nS\r\n"; },
                                           serial_tests::kWaitMs))
        << m_sim.Received(1);
}

TEST_F(SerialTest, ClosingTheWindowWhileTheControllerStallsEndsPromptly) {
    UsePorts({1});
    OpenWindow(1);
    ASSERT_TRUE(m_sim.Stall(1, true));
    m_dialog->SendCommand("A\r\n");
    const DWORD start = GetTickCount();
    m_dialog.reset();
    EXPECT_LT(GetTickCount() - start, kAnswerLimitMs);
    ASSERT_TRUE(m_sim.Stall(1, false));
}

}  // namespace
