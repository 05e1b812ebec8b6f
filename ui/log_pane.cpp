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
    // Replacing the text, placing the caret and scrolling to it would each draw the pane (and
    // its scroll bar) at once; with drawing held off until all three are done, the pane is
    // painted once, in its final state, when the window next paints.
    SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
    SetWindowTextA(pane, next.c_str());
    const WPARAM end = next.size();
    SendMessageA(pane, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageA(pane, EM_SCROLLCARET, 0, 0);
    SendMessageA(pane, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(pane, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}
