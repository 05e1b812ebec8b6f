// The prediction-server simulator in its own process feeding the real operator window on a
// simulated COM1: what the link receives shows in the window's DDE displays and goes out as
// rotator commands.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/win/rotator_test_fixture.h"
#include "tools/predsim/predsim_process.h"

namespace {

using rotator_tests::SimAccess;
using rotator_tests::Visible;
using testing_support::PumpMessages;
using testing_support::PumpUntil;

constexpr int kPort = 1;
constexpr DWORD kTimeoutMs = 8000;

// Windows' DDE library dispatches the operator's input while Connect waits for the prediction
// program; Wine's does not. Once armed, the window's next tracking notification, which comes
// from inside the link's Connect, first runs the operator's action.
WNDPROC g_dialogProc = nullptr;
void (*g_insideConnect)(HWND window) = nullptr;

LRESULT CALLBACK OperatorInsideConnect(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_insideConnect != nullptr && message == WM_COMMAND &&
        wParam == MAKEWPARAM(ID_TRACKING_UPDATE, 0)) {
        auto action = g_insideConnect;
        g_insideConnect = nullptr;
        action(window);
    }
    return CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
}

void PickSecondPort(HWND window) {
    HWND combo = GetDlgItem(window, IDC_PORT);
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

void DoubleClick(HWND window) {
    SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
}

// Notes each About box as it is created, whether the link was inside Connect then, and closes it.
struct AboutWatch {
    static inline const ui::CRotatorDlg* dialog = nullptr;
    static inline int opened = 0;
    static inline int openedInsideConnect = 0;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            const char* name = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszName;
            if (!IS_INTRESOURCE(name) && std::string(name) == "About....") {
                ++opened;
                if (dialog->m_link.InConnect()) ++openedInsideConnect;
                PostMessageA(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDCANCEL, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

class DdeDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.Connected()) << "KELMA_SIM_CONTROL names no running simulator";
        ASSERT_TRUE(sim_.Ok("ports 1"));
        ASSERT_TRUE(sim_.Ok("auto 1 off"));
        ASSERT_TRUE(sim_.Ok("clear 1"));
        StartPredsim();
    }

    void StartPredsim(const std::string& arguments = "") {
        ASSERT_TRUE(predsim_.Start(arguments)) << predsim::SimulatorProcess::DefaultPath();
        ASSERT_TRUE(
            PumpUntil([&] { return predsim_.CountStartingWith("ready") == 1; }, kTimeoutMs));
    }

    void TearDown() override {
        if (dialog_) {
            const DWORD instance = dialog_->m_link.m_idInst;
            dialog_.reset();
            DdeUninitialize(instance);  // the next test's window has its own
        }
        predsim_.Kill();
    }

    void Run(const std::string& command) {
        const size_t before = predsim_.CountStartingWith("ok " + command);
        predsim_.Send(command);
        ASSERT_TRUE(PumpUntil([&] { return predsim_.CountStartingWith("ok " + command) > before; },
                              kTimeoutMs))
            << command;
    }

    void Open() {
        dialog_ = testing_support::OpenRotatorDialog(kPort);
        ASSERT_NE(dialog_, nullptr);
        KillTimer(dialog_->m_hWnd, ID_POLL_TIMER);  // the test ticks it itself
    }

    std::string Text(int id) { return testing_support::ItemText(dialog_->m_hWnd, id); }

    // The prediction program registers its service and the link connects at once, from the
    // registration event; the operator acts inside that Connect.
    void RunInsideNextConnect(void (*action)(HWND)) {
        g_dialogProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            dialog_->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OperatorInsideConnect)));
        g_insideConnect = action;
        Run("register");
        ASSERT_TRUE(WaitForText(IDC_DDE_AZ, "100"));
        SetWindowLongPtrA(dialog_->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_dialogProc));
        EXPECT_EQ(g_insideConnect, nullptr) << "the action ran";
    }

    bool WaitForText(int id, const std::string& text) {
        return PumpUntil([&] { return Text(id) == text; }, kTimeoutMs);
    }

    std::string ReceivedAfterQuiet() {
        PumpMessages(400);
        return sim_.Received(kPort);
    }

    SimAccess sim_;
    predsim::SimulatorProcess predsim_;
    std::unique_ptr<ui::CRotatorDlg> dialog_;
};

TEST_F(DdeDialogTest, PredictionRunningAtStartIsShownAndTrackedBeforeTheWindowShows) {
    Run("azel 123|45");
    Run("name ISS (ZARYA)");
    Open();
    // Connect runs inside the window's initialisation, so all of it is there already.
    EXPECT_EQ(Text(IDC_DDE_AZ), "123");
    EXPECT_EQ(Text(IDC_DDE_EL), "045");
    EXPECT_EQ(Text(IDC_SAT_NAME), "ISS (ZARYA)");
    EXPECT_EQ(Visible(ReceivedAfterQuiet()), Visible("A\r\n123\r\nE\r\n045\r\n"));
}

// A prediction program as WinOrbit's help documents it: no "AzEl", the position in
// "AzimuthDegrees" and "ElevationDegrees"; a change of one angle commands that axis alone.
TEST_F(DdeDialogTest, ServerWithOnlyTheDocumentedItemsDrivesTheRotator) {
    predsim_.Kill();
    StartPredsim("--documented-items");
    Run("azel 123|45");
    Run("name ISS");
    Open();
    EXPECT_EQ(Text(IDC_DDE_AZ), "123");
    EXPECT_EQ(Text(IDC_DDE_EL), "045");
    EXPECT_EQ(Text(IDC_SAT_NAME), "ISS");
    Run("waitlinks 1");
    Run("azel 130");
    ASSERT_TRUE(WaitForText(IDC_DDE_AZ, "130"));
    Run("azel |50");
    ASSERT_TRUE(WaitForText(IDC_DDE_EL, "050"));
    EXPECT_EQ(Visible(ReceivedAfterQuiet()),
              Visible("A\r\n123\r\nE\r\n045\r\nA\r\n130\r\nE\r\n050\r\n"));
}

TEST_F(DdeDialogTest, AdviseDataReachesTheDdeDisplays) {
    Run("azel 10|20");
    Open();
    Run("waitlinks 1");
    Run("azel 7|-4");
    ASSERT_TRUE(WaitForText(IDC_DDE_AZ, "007"));
    EXPECT_EQ(Text(IDC_DDE_EL), "-04");
    Run("name AO-91");
    ASSERT_TRUE(WaitForText(IDC_SAT_NAME, "AO-91"));
}

TEST_F(DdeDialogTest, PredictionProgramQuittingShowsZerosAndNoneAtTheNextTick) {
    Run("azel 100|30");
    Run("name NOAA 19");
    Open();
    Run("waitlinks 1");
    ASSERT_TRUE(sim_.Ok("clear 1"));
    predsim_.Send("crash");
    ASSERT_TRUE(predsim_.HasExited(kTimeoutMs));
    SendMessageA(dialog_->m_hWnd, WM_TIMER, ID_POLL_TIMER, 0);
    EXPECT_EQ(Text(IDC_DDE_AZ), "000");
    EXPECT_EQ(Text(IDC_DDE_EL), "000");
    EXPECT_EQ(Text(IDC_SAT_NAME), "none");
    EXPECT_EQ(dialog_->m_link.m_hConv, nullptr);
    // The rotator goes to 0, 0; then the tick's elevation poll.
    EXPECT_EQ(Visible(ReceivedAfterQuiet()), Visible("A\r\n000\r\nE\r\n000\r\nE\r\n"));
}

TEST_F(DdeDialogTest, PortChangeInsideConnectIsRefusedAndTheListShowsThePortInUse) {
    ASSERT_TRUE(sim_.Ok("ports 1 2"));
    Run("unregister");
    Run("azel 100|30");
    Open();
    const HANDLE port = dialog_->m_serial.m_hPort;
    RunInsideNextConnect(&PickSecondPort);
    EXPECT_EQ(dialog_->m_nPort, kPort);
    EXPECT_EQ(dialog_->m_serial.m_hPort, port);
    HWND combo = dialog_->GetDlgItem(IDC_PORT);
    EXPECT_EQ(SendMessageA(combo, CB_GETITEMDATA, SendMessageA(combo, CB_GETCURSEL, 0, 0), 0),
              kPort);
    EXPECT_NE(Text(IDC_LOG).find("Port not changed, try again\r\n"), std::string::npos)
        << "the operator is told: " << Text(IDC_LOG);
}

TEST_F(DdeDialogTest, DoubleClickInsideConnectOpensTheAboutBoxOnceConnectHasReturned) {
    Run("unregister");
    Run("azel 100|30");
    Open();
    AboutWatch::dialog = dialog_.get();
    HHOOK hook = SetWindowsHookExA(WH_CBT, &AboutWatch::Hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    RunInsideNextConnect(&DoubleClick);
    EXPECT_TRUE(PumpUntil([] { return AboutWatch::opened > 0; }, kTimeoutMs));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(AboutWatch::openedInsideConnect, 0);
    EXPECT_EQ(AboutWatch::opened, 1);
}

TEST_F(DdeDialogTest, APassPlayedFastEndsWhereThePredictionEnds) {
    Run("name ISS");
    Run("azel 150.0|-6.0");
    Open();
    Run("waitlinks 1");
    // 40 updates, 50 ms apart: azimuth 150 to 30, elevation -6 up to 59.9 (the sample nearest
    // the 60 degree culmination) and back to -6.
    Run("pass 0.05 40 60 150 30");
    ASSERT_TRUE(WaitForText(IDC_DDE_AZ, "030"));
    EXPECT_EQ(Text(IDC_DDE_EL), "-06");
    const std::string sent = ReceivedAfterQuiet();
    EXPECT_EQ(sent.rfind("A\r\n146\r\nE\r\n000\r\n", 0), 0u) << Visible(sent);
    EXPECT_NE(sent.find("E\r\n059\r\n"), std::string::npos) << Visible(sent);
    EXPECT_EQ(sent.find("E\r\n060\r\n"), std::string::npos) << Visible(sent);
    EXPECT_EQ(sent.find("E\r\n-"), std::string::npos) << "no negative elevation goes out";
}

}  // namespace
