// The traffic log pane: the recent serial traffic, newest text always in view.
#include <string>
#include <vector>

#include "ui/log_text.h"
#include "ui/rotator_dlg.h"

void CRotatorDlg::AppendLog(const char* text) {
    AppendLogTexts({text ? text : ""});
}

// The texts are composed one after the other exactly as separate appends would leave them, but
// the pane is written once: under Wine every write of an edit control's text costs hundreds of
// server round trips, so a notification carrying several lines must not pay that per line.
void CRotatorDlg::AppendLogTexts(const std::vector<std::string>& texts) {
    HWND pane = GetDlgItem(IDC_LOG);
    // The pane never holds more than 249 characters; read all of it so that nothing logged is
    // cut off (one spare place for a longer text, which the trimming then drops).
    char current[kelma::kLogMaxText + 2] = {};
    GetWindowTextA(pane, current, sizeof(current));
    std::string next = current;
    for (const std::string& text : texts) next = kelma::ComposeLogText(next, text);
    SetWindowTextA(pane, next.c_str());
    const WPARAM end = next.size();
    SendMessageA(pane, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageA(pane, EM_SCROLLCARET, 0, 0);
}
