// The framework layer: message tables route messages, notifications and command ids to the
// right handlers with the right arguments, base tables stand behind derived ones, and the
// command line is walked as the application object needs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/rotator_app.h"
#include "tests/win/support/dialog_support.h"
#include "ui/resource.h"

namespace {

using testing_support::PumpMessages;

// A dialog on the About box's template whose handlers record what reached them.
class RecordingDlg : public framework::CDialog {
public:
    RecordingDlg() : framework::CDialog(IDD_ABOUTBOX, nullptr) {}

    void OnClicked1000() { calls.push_back("clicked1000"); }
    void OnSelChange1000() { calls.push_back("selchange1000"); }
    void OnPrivate2000() { calls.push_back("private2000"); }
    void OnTimer(UINT_PTR id) { calls.push_back("timer" + std::to_string(id)); }
    void OnLButtonDblClk(UINT flags, POINT point) {
        calls.push_back("dblclk " + std::to_string(flags) + " " + std::to_string(point.x) + "," +
                        std::to_string(point.y));
    }
    void OnCancel() override {
        calls.push_back("cancel");
        framework::CDialog::OnCancel();
    }

    std::vector<std::string> calls;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RecordingDlg, framework::CDialog)
ON_BN_CLICKED(1000, OnClicked1000)
ON_CBN_SELCHANGE(1000, OnSelChange1000)
ON_COMMAND(2000, OnPrivate2000)
ON_WM_TIMER()
ON_WM_LBUTTONDBLCLK()
END_MESSAGE_MAP()

class MessageTableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dlg.Create()); }
    RecordingDlg dlg;
};

TEST_F(MessageTableTest, CommandsAreMatchedByIdAndNotificationCode) {
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), 0);
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(1000, CBN_SELCHANGE), 0);
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(1000, EN_CHANGE), 0);   // not in the table
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);  // not in the table
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(2000, 0), 0);
    EXPECT_EQ(dlg.calls, (std::vector<std::string>{"clicked1000", "selchange1000", "private2000"}));
}

TEST_F(MessageTableTest, MessagesCarryTheirArguments) {
    SendMessageA(dlg.m_hWnd, WM_TIMER, 7, 0);
    SendMessageA(dlg.m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(12, 34));
    EXPECT_EQ(dlg.calls, (std::vector<std::string>{"timer7", "dblclk 1 12,34"}));
}

TEST_F(MessageTableTest, TheBaseDialogTableEndsTheDialogOnCancel) {
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(dlg.calls, (std::vector<std::string>{"cancel"}));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(MessageTableTest, CloseBoxRunsCancel) {
    SendMessageA(dlg.m_hWnd, WM_CLOSE, 0, 0);
    PumpMessages(20);
    EXPECT_EQ(dlg.calls, (std::vector<std::string>{"cancel"}));
}

TEST_F(MessageTableTest, RealTimerReachesTheHandler) {
    SetTimer(dlg.m_hWnd, 5, 10, nullptr);
    testing_support::PumpUntil([&] { return !dlg.calls.empty(); }, 2000);
    KillTimer(dlg.m_hWnd, 5);
    ASSERT_FALSE(dlg.calls.empty());
    EXPECT_EQ(dlg.calls.front(), "timer5");
}

TEST(DialogCentringTest, ADialogWithoutOwnerIsCentredOnTheWorkArea) {
    RecordingDlg dlg;
    ASSERT_TRUE(dlg.Create());
    RECT window, area;
    GetWindowRect(dlg.m_hWnd, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int left = window.left - area.left, right = area.right - window.right;
    const int top = window.top - area.top, bottom = area.bottom - window.bottom;
    EXPECT_LE(std::abs(left - right), 1);
    EXPECT_LE(std::abs(top - bottom), 1);
}

TEST(CommandLineInfoTest, TheLastArgumentDecidesThePort) {
    struct Case {
        const char* commandLine;
        int port;
    } cases[] = {{"KelmaRotator.exe", 1},        {"KelmaRotator.exe 2", 2},
                 {"KelmaRotator.exe /3", 3},     {"KelmaRotator.exe -2", 2},
                 {"KelmaRotator.exe --2", 1},    {"KelmaRotator.exe 2 3", 3},
                 {"KelmaRotator.exe 3 /x", 1},   {"\"C:\\a b\\KelmaRotator.exe\" 2", 2},
                 {"KelmaRotator.exe \"\"", 1},   {"KelmaRotator.exe 99999999999", 2147483647},
                 {"KelmaRotator.exe \" +4\"", 4}};
    for (const Case& c : cases) {
        app::CPortCommandLineInfo info;
        framework::CWinApp::ParseCommandLine(info, c.commandLine);
        EXPECT_EQ(info.m_nComPort, c.port) << c.commandLine;
    }
}

}  // namespace
