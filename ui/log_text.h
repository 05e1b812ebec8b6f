// The traffic log pane's text rule: keep only the most recent lines, then append.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

constexpr size_t kLogKeptBeforeAppend = 150;  // leading lines dropped beyond this
constexpr size_t kLogAppendLimit = 100;       // texts this long or longer are not appended
constexpr size_t kLogMaxText = kLogKeptBeforeAppend + kLogAppendLimit - 1;  // 249

// Drops whole leading lines (each up to and including its LF) while the text is longer than
// 150 characters. A longer text without any LF keeps its last 150 characters.
std::string TrimLogText(std::string_view pane);

// The pane's next text: the trimmed pane followed by the appended text when it is shorter
// than 100 characters.
std::string ComposeLogText(std::string_view pane, std::string_view appended);

// How to bring the pane from its text to the one the texts appended one after the other give,
// by editing it in place: cut `cut` leading characters, then add `added` at the end. Trimming
// only ever drops leading characters and appending only adds at the end, so the next text is
// always a tail of the current text followed by the appended texts; when the trimming reaches
// into the appended texts, `whole` is set and the pane is given `next` in full instead.
struct LogPaneEdit {
    std::string next;   // the pane's text afterwards
    size_t cut = 0;     // leading characters of the current text to remove
    std::string added;  // characters to add at the end after the cut
    bool whole = false;
};
LogPaneEdit PlanLogPaneEdit(std::string_view pane, const std::vector<std::string>& texts);

}  // namespace ui
