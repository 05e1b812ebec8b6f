#include "ui/rotator_dlg.h"

DWORD WINAPI CRotatorDlg::ReceiveThread(LPVOID) {
    return 0;
}
