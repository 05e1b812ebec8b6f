// Common ground of the serial link's Windows tests: the operator window on the simulated
// controller, a watch on its ID_SERIAL_DATA notifications, and a background thread that keeps
// the controller talking. Header-only: each test program takes it in by itself.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "tests/win/support/sim_client.h"
#include "ui/rotator_dlg.h"

namespace serial_tests {

constexpr DWORD kWaitMs = 5000;  // generous: only a broken program waits this long

// Dispatches this thread's messages for about the given time, checking the clock after every
// message: under a steady stream of notifications the queue may never run empty.
inline void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
}

inline size_t Slot(const ui::CRotatorDlg& d, const char* position) {
    return static_cast<size_t>(position - d.m_serial.m_rxRing);
}

// Unread bytes of the receive ring, taken under its lock.
inline std::string Unread(ui::CRotatorDlg& d) {
    d.m_serial.m_csRxRing.lock();
    std::string bytes;
    for (char* p = d.m_serial.m_pRxRead; p != d.m_serial.m_pRxWrite;
         p = (p + 1 == d.m_serial.m_rxRing + serial::kRxRingSize) ? d.m_serial.m_rxRing : p + 1)
        bytes += *p;
    d.m_serial.m_csRxRing.unlock();
    return bytes;
}

// Counts the window's ID_SERIAL_DATA notifications and notes where the write position stood at
// each. With forward off the notification stops here, so nothing takes bytes out of the ring.
class DataWatch {
public:
    DataWatch(ui::CRotatorDlg& dialog, bool forward) : m_dialog(dialog), m_forward(forward) {
        s_current = this;
        m_oldProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            dialog.m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DataWatch::Proc)));
    }
    ~DataWatch() {
        if (IsWindow(m_dialog.m_hWnd))
            SetWindowLongPtrA(m_dialog.m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
        s_current = nullptr;
    }
    DataWatch(const DataWatch&) = delete;
    DataWatch& operator=(const DataWatch&) = delete;

    size_t Count() const { return m_writeSlots.size(); }
    const std::vector<size_t>& WriteSlots() const { return m_writeSlots; }
    void Reset() { m_writeSlots.clear(); }

    // Pumps messages until n notifications have come, then a little longer for strays.
    bool WaitFor(size_t n) {
        const bool reached = testing_support::PumpUntil([&] { return Count() >= n; }, kWaitMs);
        testing_support::PumpMessages(150);
        return reached;
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        DataWatch* self = s_current;
        if (message == WM_COMMAND && wParam == MAKEWPARAM(ID_SERIAL_DATA, 0) && lParam == 0) {
            self->m_dialog.m_serial.m_csRxRing.lock();
            self->m_writeSlots.push_back(Slot(self->m_dialog, self->m_dialog.m_serial.m_pRxWrite));
            self->m_dialog.m_serial.m_csRxRing.unlock();
            if (!self->m_forward) return 0;
        }
        return CallWindowProcA(self->m_oldProc, hwnd, message, wParam, lParam);
    }

    static inline DataWatch* s_current = nullptr;
    ui::CRotatorDlg& m_dialog;
    bool m_forward;
    WNDPROC m_oldProc = nullptr;
    std::vector<size_t> m_writeSlots;
};

// Keeps the controller on one port sending complete report lines until stopped, over a control
// connection of its own, at about half of what 9600 bit/s carries (two lines per 60 ms). Follow
// moves the stream to another port; a controller on a port that nobody has open sends nothing.
class Streamer {
public:
    explicit Streamer(int port) : m_port(port) {
        m_thread = std::thread([this] { Run(); });
    }
    ~Streamer() { Stop(); }
    void Follow(int port) { m_port = port; }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    int Sent() const { return m_sent; }

private:
    void Run() {
        SimClient sim;
        while (!m_stop && sim.Connected()) {
            if (sim.Send(m_port, "AZP 123.0 MV\r\nELP 045.0 ST\r\n")) ++m_sent;
            Sleep(kPauseMs);
        }
    }

    static constexpr DWORD kPauseMs = 60;
    std::atomic<int> m_port;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_sent{0};
    std::thread m_thread;
};

// The controller simulator with the given COM ports, answering nothing by itself.
class SerialTest : public ::testing::Test {
protected:
    void UsePorts(std::initializer_list<int> ports) {
        ASSERT_TRUE(m_sim.Connected()) << "KELMA_SIM_CONTROL names no running simulator";
        ASSERT_TRUE(m_sim.Ports(ports)) << m_sim.LastError();
        for (int port : ports) ASSERT_TRUE(m_sim.Auto(port, false) && m_sim.Clear(port));
    }

    // The operator window as the program starts it, without its poll timer, so that only what
    // a test does goes over the line.
    void OpenWindow(int commandLinePort) {
        m_dialog = testing_support::OpenRotatorDialog(commandLinePort);
        ASSERT_NE(m_dialog, nullptr);
        KillTimer(m_dialog->m_hWnd, ID_POLL_TIMER);
        PumpFor(200);  // the worker gets to its first wait
    }

    // Picks a port in the combo box as the operator does.
    void SelectPort(int port) {
        HWND combo = m_dialog->GetDlgItem(IDC_PORT);
        const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            if (SendMessageA(combo, CB_GETITEMDATA, i, 0) != port) continue;
            SendMessageA(combo, CB_SETCURSEL, i, 0);
            SendMessageA(m_dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(combo));
            return;
        }
        ADD_FAILURE() << "COM" << port << " is not in the list";
    }

    void TearDown() override { m_dialog.reset(); }

    SimClient m_sim;
    std::unique_ptr<ui::CRotatorDlg> m_dialog;
};

}  // namespace serial_tests
