// Serial port control: which COM ports exist, opening and configuring one, writing commands.
#include <cstdio>

#include "ui/rotator_dlg.h"

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 3;  // the port list offers COM1 to COM3

void FormatPortName(char (&name)[16], int port) {
    snprintf(name, sizeof(name), "COM%d", port);
}

}  // namespace

void CRotatorDlg::EnumeratePorts() {
    HWND combo = GetDlgItem(IDC_PORT);
    if (combo == nullptr) return;
    LRESULT chosenIndex = 0;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        char name[16];
        FormatPortName(name, port);
        HANDLE probe =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) continue;
        const LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendMessageA(combo, CB_SETITEMDATA, index, port);
        if (port == m_nPort) chosenIndex = index;
        CloseHandle(probe);
    }
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0) {
        SendMessageA(combo, CB_SETCURSEL, chosenIndex, 0);
        m_nPort = static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, chosenIndex, 0));
    } else {
        m_nPort = 0;
    }
}

// Placeholders until the serial link is built.
int CRotatorDlg::OpenPort(int) {
    return 0;
}
int CRotatorDlg::ClosePort() {
    return 1;
}
int CRotatorDlg::SendCommand(const char*) {
    return 0;
}
