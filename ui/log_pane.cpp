// The traffic log pane: the recent serial traffic, newest text always in view.
#include <string>

#include "ui/log_text.h"
#include "ui/rotator_dlg.h"

void CRotatorDlg::AppendLog(const char* text) {
    HWND pane = GetDlgItem(IDC_LOG);
    // The pane never holds more than 249 characters; read all of it so that nothing logged is
    // cut off (one spare place for a longer text, which the trimming then drops).
    char current[kelma::kLogMaxText + 2] = {};
    GetWindowTextA(pane, current, sizeof(current));
    const std::string next = kelma::ComposeLogText(current, text ? text : "");
    SetWindowTextA(pane, next.c_str());
    const WPARAM end = next.size();
    SendMessageA(pane, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageA(pane, EM_SCROLLCARET, 0, 0);
}
