// The traffic log pane: the recent serial traffic, newest text always in view.
#include <string>
#include <vector>

#include "ui/log_text.h"
#include "ui/rotator_dlg.h"

namespace ui {

namespace {

// Replaces the characters from `start` up to `end` with `text`; an empty range with an empty
// text leaves the pane untouched.
void ReplacePaneRange(HWND pane, size_t start, size_t end, const char* text) {
    if (start == end && *text == '\0') return;
    SendMessageA(pane, EM_SETSEL, start, static_cast<LPARAM>(end));
    SendMessageA(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

}  // namespace

void CRotatorDlg::AppendLog(const char* text) {
    AppendLogTexts({text ? text : ""});
}

// The texts are composed one after the other exactly as separate appends would leave them, and
// the pane is changed once, in place: the oldest lines cut from its start, the new text added at
// its end. Under Wine an edit control re-measures and redraws all of its text when the whole
// text is replaced, which costs several times as much as the two small edits, and a
// notification carrying several lines must not pay even that per line.
void CRotatorDlg::AppendLogTexts(const std::vector<std::string>& texts) {
    HWND pane = GetDlgItem(IDC_LOG);
    // The pane never holds more than 249 characters; read all of it so that nothing logged is
    // cut off (one spare place for a longer text, which the trimming then drops).
    char current[ui::kLogMaxText + 2] = {};
    const int read = GetWindowTextA(pane, current, sizeof(current));
    const ui::LogPaneEdit edit = ui::PlanLogPaneEdit(current, texts);
    if (edit.whole || GetWindowTextLengthA(pane) != read) {
        SetWindowTextA(pane, edit.next.c_str());
    } else {
        ReplacePaneRange(pane, 0, edit.cut, "");
        const size_t kept = static_cast<size_t>(read) - edit.cut;
        ReplacePaneRange(pane, kept, kept, edit.added.c_str());
    }
    const WPARAM end = edit.next.size();
    SendMessageA(pane, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageA(pane, EM_SCROLLCARET, 0, 0);
}

}  // namespace ui
