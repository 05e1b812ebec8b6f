#include "ui/log_text.h"

namespace ui {

std::string TrimLogText(std::string_view pane) {
    while (pane.size() > kLogKeptBeforeAppend) {
        const size_t lineFeed = pane.find('\n');
        if (lineFeed == std::string_view::npos) {
            pane.remove_prefix(pane.size() - kLogKeptBeforeAppend);
            break;
        }
        pane.remove_prefix(lineFeed + 1);
    }
    return std::string(pane);
}

std::string ComposeLogText(std::string_view pane, std::string_view appended) {
    std::string text = TrimLogText(pane);
    if (appended.size() < kLogAppendLimit) text.append(appended);
    return text;
}

LogPaneEdit PlanLogPaneEdit(std::string_view pane, const std::vector<std::string>& texts) {
    LogPaneEdit edit;
    edit.next = pane;
    for (const std::string& text : texts) {
        edit.next = ComposeLogText(edit.next, text);
        if (text.size() < kLogAppendLimit) edit.added += text;
    }
    const size_t before = pane.size() + edit.added.size();
    edit.cut = before - edit.next.size();
    if (edit.cut > pane.size()) {
        edit.whole = true;
        edit.cut = 0;
        edit.added.clear();
    }
    return edit;
}

}  // namespace ui
