#include "ui/log_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ui::ComposeLogText;
using ui::TrimLogText;

// A pane text made of lines "<n chars>\r\n".
std::string Lines(std::initializer_list<size_t> lengths, char fill = 'x') {
    std::string text;
    for (size_t n : lengths) text += std::string(n, fill) + "\r\n";
    return text;
}

TEST(LogTextTest, EmptyPanePlusCommandGivesTheCommand) {
    EXPECT_EQ(ComposeLogText("", "A\r\n"), "A\r\n");
    EXPECT_EQ(ComposeLogText("", "A\r\n045\r\n"), "A\r\n045\r\n");
}

TEST(LogTextTest, ExactlyOneHundredFiftyCharactersAreKept) {
    const std::string pane = Lines({48, 48, 48});  // 3 * 50 = 150
    ASSERT_EQ(pane.size(), 150u);
    EXPECT_EQ(TrimLogText(pane), pane);
}

TEST(LogTextTest, OneCharacterOverDropsTheOldestWholeLine) {
    const std::string pane = Lines({10}, 'a') + Lines({137}, 'b');  // 12 + 139 = 151
    ASSERT_EQ(pane.size(), 151u);
    EXPECT_EQ(TrimLogText(pane), Lines({137}, 'b'));
    EXPECT_EQ(TrimLogText(pane).size(), 139u);
}

TEST(LogTextTest, DropsLinesUntilAtMostOneHundredFiftyRemain) {
    const std::string pane = Lines({3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
                                    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3});
    ASSERT_EQ(pane.size(), 200u);
    const std::string trimmed = TrimLogText(pane);
    EXPECT_EQ(trimmed.size(), 150u);
    EXPECT_EQ(trimmed, pane.substr(50));
}

TEST(LogTextTest, NinetyNineCharactersAppendAndOneHundredDoNot) {
    const std::string pane = Lines({8});
    EXPECT_EQ(ComposeLogText(pane, std::string(99, 'z')), pane + std::string(99, 'z'));
    EXPECT_EQ(ComposeLogText(pane, std::string(100, 'z')), pane);
}

TEST(LogTextTest, TooLongAppendStillTrims) {
    const std::string pane = Lines({10}, 'a') + Lines({137}, 'b');
    EXPECT_EQ(ComposeLogText(pane, std::string(100, 'z')), Lines({137}, 'b'));
}

TEST(LogTextTest, LongReceivedLineKeepsItsEndWhenItsLineEndFollows) {
    // 150 characters in the pane, then a received 60-character line, then its CR LF: the
    // whole line must survive (the pane is read back whole, never cut at 199).
    const std::string pane = Lines({48, 48, 48});
    const std::string line(60, 'L');
    const std::string afterLine = ComposeLogText(pane, line);
    ASSERT_EQ(afterLine.size(), 210u);
    const std::string afterEnd = ComposeLogText(afterLine, "\r\n");
    EXPECT_EQ(afterEnd, Lines({48}) + line + "\r\n");
}

TEST(LogTextTest, TextWithoutLineFeedKeepsItsLastCharacters) {
    const std::string pane = std::string(100, 'a') + std::string(100, 'b');
    EXPECT_EQ(TrimLogText(pane), std::string(50, 'a') + std::string(100, 'b'));
}

TEST(LogTextTest, NeverExceedsTheLimitWhateverIsAppended) {
    std::string pane;
    for (int i = 0; i < 2000; ++i) {
        const size_t length = static_cast<size_t>((i * 37) % 130);
        std::string text(length, static_cast<char>('a' + i % 26));
        if (i % 3 == 0) text += "\r\n";
        pane = ComposeLogText(pane, text);
        ASSERT_LE(pane.size(), ui::kLogMaxText);
    }
}

// The pane is edited in place: cutting the planned characters from its start and adding the
// planned text at its end must leave exactly the text the appends one by one give.
std::string ApplyEdit(const std::string& pane, const ui::LogPaneEdit& edit) {
    return edit.whole ? edit.next : pane.substr(edit.cut) + edit.added;
}

TEST(LogTextTest, InPlaceEditLeavesTheComposedText) {
    std::string pane;
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::string> texts;
        for (int j = 0; j <= i % 4; ++j) {
            std::string text(static_cast<size_t>((i * 31 + j * 17) % 110), 'a' + j);
            if ((i + j) % 3 != 0) text += "\r\n";
            texts.push_back(text);
        }
        std::string composed = pane;
        for (const std::string& text : texts) composed = ComposeLogText(composed, text);
        const ui::LogPaneEdit edit = ui::PlanLogPaneEdit(pane, texts);
        ASSERT_EQ(edit.next, composed) << "round " << i;
        ASSERT_EQ(ApplyEdit(pane, edit), composed) << "round " << i;
        ASSERT_LE(edit.cut, pane.size());
        pane = composed;
    }
}

TEST(LogTextTest, TrimmingIntoTheAppendedTextsReplacesTheWholeText) {
    // Three 99-character texts without a line feed: the last trimming drops the pane's only
    // line and then keeps the last 150 characters, which begin inside the first text.
    const std::string pane = Lines({48});
    const std::vector<std::string> texts{std::string(99, 'p'), std::string(99, 'q'),
                                         std::string(99, 'r')};
    const ui::LogPaneEdit edit = ui::PlanLogPaneEdit(pane, texts);
    EXPECT_TRUE(edit.whole);
    EXPECT_EQ(edit.next, std::string(51, 'p') + std::string(99, 'q') + std::string(99, 'r'));
    // A command after a full pane: its oldest line cut, the command added.
    const ui::LogPaneEdit command = ui::PlanLogPaneEdit(Lines({48, 48, 48, 8}), {"A\r\n"});
    EXPECT_FALSE(command.whole);
    EXPECT_EQ(command.cut, 50u);
    EXPECT_EQ(command.added, "A\r\n");
}

}  // namespace
