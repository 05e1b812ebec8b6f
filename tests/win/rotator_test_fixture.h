// The rotator tests' common ground: a fixture that opens the real operator window on COM1 of
// the controller simulator (whose control address wine-run.sh puts in KELMA_SIM_CONTROL).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "tests/win/support/sim_client.h"
#include "ui/rotator_dlg.h"

namespace rotator_tests {

// The simulator's control connection, with a yes/no form of a command line.
class SimAccess : public SimClient {
public:
    bool Ok(const std::string& line) { return IsOk(Command(line)); }
};

// Printable form of bytes for failure messages: CR as \r, LF as \n.
inline std::string Visible(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    return text;
}

// The operator window on COM1, with a controller that answers nothing by itself. The poll
// timer is stopped so that only what a test does reaches the controller; tests of the timer
// call OnTimer or start it again.
class RotatorWindowTest : public ::testing::Test {
protected:
    static constexpr int kPort = 1;
    static constexpr DWORD kWaitMs = 3000;

    void SetUp() override {
        // Without a simulated port the window would end the process at start-up.
        ASSERT_TRUE(sim_.Connected()) << "KELMA_SIM_CONTROL names no running simulator";
        ASSERT_TRUE(sim_.Ports({kPort})) << sim_.LastError();
        ASSERT_TRUE(sim_.Auto(kPort, false));
        dialog_ = testing_support::OpenRotatorDialog(kPort);
        ASSERT_NE(dialog_, nullptr);
        KillTimer(hwnd(), ID_POLL_TIMER);
        testing_support::PumpMessages(100);
        ASSERT_TRUE(sim_.Clear(kPort));
    }

    void TearDown() override { dialog_.reset(); }

    HWND hwnd() const { return dialog_->m_hWnd; }
    std::string Text(int id) const { return testing_support::ItemText(hwnd(), id); }
    void SetText(int id, const std::string& text) { SetDlgItemTextA(hwnd(), id, text.c_str()); }
    void Click(int id) { testing_support::ClickButton(hwnd(), id); }

    void SetManual(bool on) {
        const bool checked = IsDlgButtonChecked(hwnd(), IDC_MANUAL) == BST_CHECKED;
        if (checked != on) Click(IDC_MANUAL);
    }

    // One tick of the poll timer, through the window's message table.
    void Tick() { SendMessageA(hwnd(), WM_TIMER, ID_POLL_TIMER, 0); }

    // Waits until the controller has received at least `size` bytes; returns all of them.
    std::string ReceivedAtLeast(size_t size) {
        std::string received;
        testing_support::PumpUntil(
            [&] {
                received = sim_.Received(kPort);
                return received.size() >= size;
            },
            kWaitMs);
        return received;
    }

    // Lets everything in flight arrive, then returns what the controller received.
    std::string ReceivedAfterQuiet(DWORD ms = 300) {
        testing_support::PumpMessages(ms);
        return sim_.Received(kPort);
    }

    // Puts bytes into the receive ring as the receive worker does and notifies the window.
    void Deliver(const std::string& bytes) {
        ui::CRotatorDlg& d = *dialog_;
        d.m_serial.m_csRxRing.lock();
        for (char c : bytes) {
            *d.m_serial.m_pRxWrite = c;
            d.m_serial.m_pRxWrite =
                d.m_serial.m_pRxWrite + 1 == d.m_serial.m_rxRing + serial::kRxRingSize
                    ? d.m_serial.m_rxRing
                    : d.m_serial.m_pRxWrite + 1;
        }
        d.m_serial.m_csRxRing.unlock();
        SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(ID_SERIAL_DATA, 0), 0);
    }

    SimAccess sim_;
    std::unique_ptr<ui::CRotatorDlg> dialog_;
};

}  // namespace rotator_tests
