// Serial port control: which COM ports exist, opening one, writing commands, and closing it,
// through the window's serial link (serial/serial_link.h).
#include <cstdio>

#include "ui/rotator_dlg.h"

namespace ui {

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 3;  // the port list offers COM1 to COM3
// Lines of the traffic log about the port itself, each shown once when it happens.
constexpr char kFailedText[] = "COM%d failed\r\n";             // a write it will not give back
constexpr char kNotReleasedText[] = "COM%d not released\r\n";  // its threads did not end

}  // namespace

void CRotatorDlg::EnumeratePorts() {
    HWND combo = GetDlgItem(IDC_PORT);
    if (combo == nullptr) return;
    LRESULT chosenIndex = 0;
    for (int port : serial::SerialLink::AvailablePorts(kFirstPort, kLastPort)) {
        char name[16];
        snprintf(name, sizeof(name), "COM%d", port);
        const LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendMessageA(combo, CB_SETITEMDATA, index, port);
        if (port == m_nPort) chosenIndex = index;
    }
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0) {
        SendMessageA(combo, CB_SETCURSEL, chosenIndex, 0);
        m_nPort = static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, chosenIndex, 0));
    } else {
        m_nPort = 0;
    }
}

int CRotatorDlg::OpenPort(int port) {
    const int opened = m_serial.Open(port, m_hWnd);
    if (m_serial.LastOpenHadNoEvent())
        MessageBoxA(m_hWnd, "Failed to create event for thread!", "Error",
                    MB_OK | MB_ICONEXCLAMATION);
    return opened;
}

int CRotatorDlg::ClosePort() {
    if (!m_serial.Close()) LogPortText(kNotReleasedText);
    return 1;
}

int CRotatorDlg::SendCommand(const char* text) {
    const serial::SendResult sent = m_serial.Send(text);
    if (sent == serial::SendResult::kRefused) return 0;
    AppendLog(text);
    if (sent == serial::SendResult::kPortFailed) LogPortText(kFailedText);
    return 1;
}

// A line about the port in use, in the traffic log, while the window is there to show it.
void CRotatorDlg::LogPortText(const char* format) {
    if (m_hWnd == nullptr || !IsWindow(m_hWnd)) return;
    char line[32];
    snprintf(line, sizeof(line), format, m_nPort);
    AppendLog(line);
}

}  // namespace ui
