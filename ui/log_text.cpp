#include "ui/log_text.h"

namespace kelma {

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

}  // namespace kelma
