// The operator window as the operator meets it: its controls, texts, styles, positions and Tab
// order, the Set buttons following the manual-control box, the log pane after a series of
// appends, and the About box opening on a double-click of the window's own surface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <uxtheme.h>

#include "framework/wine_host.h"
#include "tests/win/support/dialog_support.h"
#include "tests/win/support/sim_client.h"

namespace {

using testing_support::ItemText;
using testing_support::PumpMessages;
using testing_support::PumpUntil;
using testing_support::WindowText;

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    int x, y, w, h;
    DWORD requiredStyle;
};

constexpr DWORD kLabel = SS_LEFT | WS_GROUP;
constexpr DWORD kValue = SS_RIGHT | WS_GROUP;
constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;

// The 24 controls in template (and Tab) order.
const ExpectedControl kControls[] = {
    {-1, "Static", "Azimuth :", 14, 19, 30, 8, kLabel},
    {-1, "Static", "Elevation:", 89, 19, 32, 8, kLabel},
    {IDC_POS_AZ, "Static", "000", 44, 19, 21, 8, kValue},
    {IDC_POS_EL, "Static", "000", 125, 19, 21, 8, kValue},
    {-1, "Button", "Manual control", 7, 74, 148, 49, BS_GROUPBOX},
    {-1, "Static", "Azimuth :", 13, 87, 30, 8, kLabel},
    {-1, "Static", "Elevation:", 85, 87, 32, 8, kLabel},
    {IDC_AZ_EDIT, "Edit", "", 47, 84, 27, 14, kEdit},
    {IDC_EL_EDIT, "Edit", "", 121, 84, 26, 14, kEdit},
    {IDC_AZ_SET, "Button", "Set", 16, 103, 28, 14, WS_TABSTOP | WS_DISABLED},
    {IDC_EL_SET, "Button", "Set", 87, 103, 28, 14, WS_TABSTOP | WS_DISABLED},
    {IDC_MANUAL, "Button", "Manual control", 7, 126, 63, 10, BS_AUTOCHECKBOX | WS_TABSTOP},
    {IDC_PORT, "ComboBox", nullptr, 104, 126, 51, 49, CBS_DROPDOWN | WS_TABSTOP},
    {-1, "Button", "Current rotator position", 7, 7, 148, 27, BS_GROUPBOX},
    {-1, "Button", "DDE connection to WinOrbit", 7, 36, 148, 33, BS_GROUPBOX},
    {-1, "Static", "Satellite :", 13, 47, 30, 8, kLabel},
    {IDC_SAT_NAME, "Static", "none", 89, 46, 61, 8, SS_LEFT},
    {-1, "Static", "Azimuth :", 14, 56, 30, 8, kLabel},
    {-1, "Static", "Elevation:", 89, 56, 32, 8, kLabel},
    {IDC_DDE_AZ, "Static", "000", 52, 56, 13, 8, kValue},
    {IDC_DDE_EL, "Static", "000", 133, 56, 13, 8, kValue},
    {IDC_LOG, "Edit", "", 7, 141, 148, 45,
     ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_AZ_STOP, "Button", "Stop", 48, 103, 28, 14, WS_TABSTOP},
    {IDC_EL_STOP, "Button", "Stop", 120, 103, 28, 14, WS_TABSTOP},
};

class OperatorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Ports({1, 3}));
        dlg = testing_support::OpenRotatorDialog(1);
        ASSERT_NE(dlg, nullptr);
        hwnd = dlg->m_hWnd;
    }
    void TearDown() override { dlg.reset(); }

    std::vector<HWND> Children() const {
        std::vector<HWND> children;
        for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            children.push_back(c);
        return children;
    }
    RECT DialogUnits(int x, int y, int w, int h) const {
        RECT r = {x, y, x + w, y + h};
        MapDialogRect(hwnd, &r);
        return r;
    }
    RECT ClientRectOf(HWND child) const {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    SimClient sim;
    std::unique_ptr<ui::CRotatorDlg> dlg;
    HWND hwnd = nullptr;
};

TEST_F(OperatorWindowTest, ShowsTheProgramTitleAndAFixedFrame) {
    EXPECT_EQ(WindowText(hwnd), "KelmaRotator");
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_NE(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0), 0);
    RECT client;
    GetClientRect(hwnd, &client);
    const RECT expected = DialogUnits(0, 0, 162, 193);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
}

TEST_F(OperatorWindowTest, HasTheTwentyFourControlsInTemplateOrder) {
    const std::vector<HWND> children = Children();
    ASSERT_EQ(children.size(), std::size(kControls));
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& want = kControls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        HWND c = children[i];
        EXPECT_EQ(GetDlgCtrlID(c), want.id);
        char className[32] = {};
        GetClassNameA(c, className, sizeof(className));
        EXPECT_STREQ(className, want.className);
        if (want.text != nullptr) {
            EXPECT_EQ(WindowText(c), want.text);
        }
        const DWORD style = GetWindowLongA(c, GWL_STYLE);
        // The dialog manager draws an edit box's border as a sunken client edge.
        const DWORD required = want.requiredStyle & ~WS_BORDER;
        EXPECT_EQ(style & required, required);
        if (want.requiredStyle & WS_BORDER) {
            EXPECT_TRUE((style & WS_BORDER) || (GetWindowLongA(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        }
        EXPECT_TRUE(style & WS_VISIBLE);
        if (strcmp(className, "Button") == 0) {
            EXPECT_NE(style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
        }
        const RECT origin = DialogUnits(want.x, want.y, 0, 0);
        const RECT size = DialogUnits(0, 0, want.w, want.h);
        const RECT actual = ClientRectOf(c);
        EXPECT_EQ(actual.left, origin.left);
        EXPECT_EQ(actual.top, origin.top);
        EXPECT_EQ(actual.right - actual.left, size.right);
        if (want.id != IDC_PORT) {  // a closed combo box is shorter than its template height
            EXPECT_EQ(actual.bottom - actual.top, size.bottom);
        }
    }
}

TEST_F(OperatorWindowTest, StylesThatMustBeAbsent) {
    const LONG portStyle = GetWindowLongA(GetDlgItem(hwnd, IDC_PORT), GWL_STYLE);
    EXPECT_FALSE(portStyle & CBS_SORT);
    const LONG logStyle = GetWindowLongA(GetDlgItem(hwnd, IDC_LOG), GWL_STYLE);
    EXPECT_FALSE(logStyle & WS_HSCROLL);
    EXPECT_FALSE(logStyle & ES_AUTOHSCROLL);  // word-wrapped
    EXPECT_FALSE(GetWindowLongA(GetDlgItem(hwnd, IDC_SAT_NAME), GWL_STYLE) & WS_GROUP);
}

TEST_F(OperatorWindowTest, TabVisitsTheEnabledStopsInTemplateOrderWithStopButtonsLast) {
    EXPECT_EQ(GetFocus(), GetDlgItem(hwnd, IDC_AZ_EDIT));
    const int expected[] = {IDC_EL_EDIT, IDC_MANUAL,  IDC_PORT,   IDC_LOG,
                            IDC_AZ_STOP, IDC_EL_STOP, IDC_AZ_EDIT};
    HWND at = GetDlgItem(hwnd, IDC_AZ_EDIT);
    for (int id : expected) {
        at = GetNextDlgTabItem(hwnd, at, FALSE);
        EXPECT_EQ(GetDlgCtrlID(at), id);
    }
    // With manual control on, the Set buttons join the order after the edit boxes.
    testing_support::ClickButton(hwnd, IDC_MANUAL);
    at = GetNextDlgTabItem(hwnd, GetDlgItem(hwnd, IDC_EL_EDIT), FALSE);
    EXPECT_EQ(GetDlgCtrlID(at), IDC_AZ_SET);
}

TEST_F(OperatorWindowTest, ManualControlEnablesOnlyTheSetButtons) {
    auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(hwnd, id)) != FALSE; };
    EXPECT_FALSE(enabled(IDC_AZ_SET));
    EXPECT_FALSE(enabled(IDC_EL_SET));
    EXPECT_TRUE(enabled(IDC_AZ_STOP));
    EXPECT_TRUE(enabled(IDC_EL_STOP));
    EXPECT_EQ(SendMessageA(GetDlgItem(hwnd, IDC_MANUAL), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(dlg->m_tracking.m_bManual);

    testing_support::ClickButton(hwnd, IDC_MANUAL);
    EXPECT_TRUE(dlg->m_tracking.m_bManual);
    EXPECT_TRUE(enabled(IDC_AZ_SET));
    EXPECT_TRUE(enabled(IDC_EL_SET));
    EXPECT_TRUE(enabled(IDC_AZ_EDIT));
    EXPECT_TRUE(enabled(IDC_AZ_STOP));

    testing_support::ClickButton(hwnd, IDC_MANUAL);
    EXPECT_FALSE(dlg->m_tracking.m_bManual);
    EXPECT_FALSE(enabled(IDC_AZ_SET));
    EXPECT_FALSE(enabled(IDC_EL_SET));
    EXPECT_TRUE(enabled(IDC_EL_EDIT));
    EXPECT_TRUE(enabled(IDC_EL_STOP));
}

TEST_F(OperatorWindowTest, StartsWithItsDefaults) {
    EXPECT_EQ(dlg->m_tracking.m_nLastAzimuth, -1000);
    EXPECT_EQ(dlg->m_tracking.m_nLastElevation, -1000);
    EXPECT_EQ(dlg->m_serial.m_pRxRead, dlg->m_serial.m_rxRing);
    EXPECT_EQ(dlg->m_serial.m_pRxWrite, dlg->m_serial.m_rxRing);
    EXPECT_EQ(dlg->m_link.m_hNotifyWnd, hwnd);
    EXPECT_EQ(ItemText(hwnd, IDC_SAT_NAME), "none");
}

TEST_F(OperatorWindowTest, LogPaneKeepsTheRecentTextAndShowsItsEnd) {
    HWND log = GetDlgItem(hwnd, IDC_LOG);
    dlg->AppendLog("A\r\n");
    EXPECT_EQ(WindowText(log), "A\r\n");
    DWORD start = 0, end = 0;
    SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 3u);
    EXPECT_EQ(end, 3u);

    dlg->AppendLog("A\r\n045\r\n");
    EXPECT_EQ(WindowText(log), "A\r\nA\r\n045\r\n");

    // Fill to exactly 150 characters, then a received 60-character line and its line end.
    SetWindowTextA(log, "");
    for (int i = 0; i < 3; ++i) dlg->AppendLog((std::string(48, 'a' + i) + "\r\n").c_str());
    ASSERT_EQ(WindowText(log).size(), 150u);
    const std::string line(60, 'L');
    dlg->AppendLog(line.c_str());
    EXPECT_EQ(WindowText(log).size(), 210u);
    dlg->AppendLog("\r\n");
    EXPECT_EQ(WindowText(log), std::string(48, 'c') + "\r\n" + line + "\r\n");

    dlg->AppendLog(std::string(100, 'x').c_str());  // too long: not appended
    EXPECT_EQ(WindowText(log), std::string(48, 'c') + "\r\n" + line + "\r\n");
    SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, 50 + line.size() + 2);

    for (int i = 0; i < 500; ++i) {
        dlg->AppendLog(i % 2 ? "\r\n" : "AZP 123.0 MV");
        ASSERT_LE(WindowText(log).size(), 249u);
    }
    // The newest line is in view: the pane holds more lines than it shows, scrolled to the end.
    const WPARAM lastReport = WindowText(log).size() - 3;
    const LRESULT position = SendMessageA(log, EM_POSFROMCHAR, lastReport, 0);
    RECT client;
    GetClientRect(log, &client);
    EXPECT_GT(SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    EXPECT_GE(static_cast<short>(HIWORD(position)), 0);
    EXPECT_LT(static_cast<short>(HIWORD(position)), client.bottom);
}

// Wine's themed scroll bar cost the window 10 to 40 ms at every line logged; under Wine the pane's
// scroll bar is drawn plainly, its arrow boxes in the button face colour, even with the theme on.
TEST_F(OperatorWindowTest, UnderWineTheLogPanesScrollBarIsDrawnWithoutTheTheme) {
    if (!framework::RunningOnWine() || !IsThemeActive())
        GTEST_SKIP() << "needs Wine with its theme on";
    HWND log = GetDlgItem(hwnd, IDC_LOG);
    for (int i = 0; i < 20; ++i) dlg->AppendLog("AZP 123.0 MV\r\n");
    RedrawWindow(log, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    SCROLLBARINFO bar = {};
    bar.cbSize = sizeof bar;
    ASSERT_TRUE(GetScrollBarInfo(log, OBJID_VSCROLL, &bar));
    RECT window;
    GetWindowRect(log, &window);
    // The up arrow's box: the top square of the bar, in the pane's window coordinates.
    const int left = bar.rcScrollBar.left - window.left;
    const int top = bar.rcScrollBar.top - window.top;
    const int side = bar.dxyLineButton;
    ASSERT_GT(side, 4);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    HDC dc = GetWindowDC(log);
    int plain = 0;
    for (int y = top; y < top + side; ++y) {
        for (int x = left; x < left + side; ++x) plain += GetPixel(dc, x, y) == face;
    }
    ReleaseDC(log, dc);
    EXPECT_GT(plain * 3, side * side) << plain << " of " << side * side << " pixels";
}

TEST_F(OperatorWindowTest, ChoosingTheRunningPortAgainDoesNothing) {
    HWND combo = GetDlgItem(hwnd, IDC_PORT);
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(dlg->m_nPort, 1);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(dlg->m_nPort, 1);
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(dlg->m_nPort, 3);
}

TEST_F(OperatorWindowTest, EscapeEndsTheWindow) {
    SetFocus(GetDlgItem(hwnd, IDC_AZ_EDIT));
    PostMessageA(GetDlgItem(hwnd, IDC_AZ_EDIT), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }, 2000));
}

TEST_F(OperatorWindowTest, EnterInAnEditBoxEndsTheWindow) {
    SetFocus(GetDlgItem(hwnd, IDC_EL_EDIT));
    PostMessageA(GetDlgItem(hwnd, IDC_EL_EDIT), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }, 2000));
}

// Double-clicks with the real mouse at the centre of a control (or point) of the window and
// reports whether an About box opened; the box is closed again from inside its modal loop.
struct AboutProbe {
    static inline bool opened = false;
    static inline std::string texts;
    static void CALLBACK CloseAbout(HWND, UINT, UINT_PTR timer, DWORD) {
        HWND about = FindWindowA(nullptr, "About....");
        if (about == nullptr) return;
        opened = true;
        texts.clear();
        for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            texts += WindowText(c) + "|";
        KillTimer(nullptr, timer);
        PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
};

bool DoubleClickOpensAbout(HWND dialog, POINT clientPoint) {
    AboutProbe::opened = false;
    POINT screen = clientPoint;
    ClientToScreen(dialog, &screen);
    SetForegroundWindow(dialog);
    SetCursorPos(screen.x, screen.y);
    PumpMessages(50);
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, &AboutProbe::CloseAbout);
    INPUT clicks[4] = {};
    for (int i = 0; i < 4; ++i) {
        clicks[i].type = INPUT_MOUSE;
        clicks[i].mi.dwFlags = i % 2 ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    }
    SendInput(4, clicks, sizeof(INPUT));
    PumpUntil([] { return AboutProbe::opened; }, 1500);
    PumpMessages(100);
    KillTimer(nullptr, timer);
    return AboutProbe::opened;
}

POINT CentreOf(HWND dialog, int id, int nth = 0) {
    HWND c = nullptr;
    int seen = 0;
    for (HWND w = GetWindow(dialog, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(w) == id && seen++ == nth) {
            c = w;
            break;
        }
    }
    RECT r;
    GetWindowRect(c, &r);
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ScreenToClient(dialog, &p);
    return p;
}

TEST_F(OperatorWindowTest, DoubleClickOnALabelOpensTheAboutBoxButNotOnAnEditBox) {
    EXPECT_TRUE(DoubleClickOpensAbout(hwnd, CentreOf(hwnd, -1, 0)));  // "Azimuth :"
    EXPECT_EQ(AboutProbe::texts,
              "Cancel|KELMA - DDE client for WinOrbit|Interface between prediction program\n and "
              "KELMA rotator controller,\nconnected over COM port|version 1.1\nfor KELMA 1.1|");
    EXPECT_TRUE(IsWindowEnabled(hwnd));  // enabled again once the box has closed
    EXPECT_TRUE(DoubleClickOpensAbout(hwnd, CentreOf(hwnd, IDC_AZ_SET)));  // disabled button
    EXPECT_FALSE(DoubleClickOpensAbout(hwnd, CentreOf(hwnd, IDC_AZ_EDIT)));
    EXPECT_FALSE(DoubleClickOpensAbout(hwnd, CentreOf(hwnd, IDC_LOG)));
}

}  // namespace
