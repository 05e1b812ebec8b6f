// The traffic log pane's text rule: keep only the most recent lines, then append.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelma {

constexpr size_t kLogKeptBeforeAppend = 150;  // leading lines dropped beyond this
constexpr size_t kLogAppendLimit = 100;       // texts this long or longer are not appended
constexpr size_t kLogMaxText = kLogKeptBeforeAppend + kLogAppendLimit - 1;  // 249

// Drops whole leading lines (each up to and including its LF) while the text is longer than
// 150 characters. A longer text without any LF keeps its last 150 characters.
std::string TrimLogText(std::string_view pane);

// The pane's next text: the trimmed pane followed by the appended text when it is shorter
// than 100 characters.
std::string ComposeLogText(std::string_view pane, std::string_view appended);

}  // namespace kelma
