// The DDE tracking link against the prediction-server simulator running as its own process.
#include <windows.h>
#include <ddeml.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dde/tracking_link.h"
#include "tests/win/support/dialog_support.h"
#include "tools/predsim/predsim_process.h"
#include "ui/resource.h"

namespace {

using testing_support::PumpMessages;
using testing_support::PumpUntil;

constexpr DWORD kTimeoutMs = 8000;
constexpr DWORD kQuietMs = 600;  // long enough for a stray message to have arrived
constexpr char kNotifyClass[] = "DdeLinkTestNotify";

// What the link held when it notified the window.
struct Snapshot {
    int azimuth;
    int elevation;
    std::string name;
    bool connected;
};

std::vector<Snapshot> g_notes;
dde::CTrackingLink* g_link = nullptr;
// Run once from inside the next notification, that is nested in the link's own call, as the
// window's handlers run on Windows while a DDE transaction waits.
std::function<void()> g_onNextNote;

LRESULT CALLBACK NotifyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == ID_TRACKING_UPDATE && HIWORD(wParam) == 0 &&
        lParam == 0 && g_link != nullptr) {
        g_notes.push_back({g_link->m_nAzimuth, g_link->m_nElevation, g_link->m_szSatellite,
                           g_link->m_hConv != 0});
        if (g_onNextNote) std::exchange(g_onNextNote, nullptr)();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class DdeLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = NotifyProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kNotifyClass;
        RegisterClassA(&wc);
        m_window = CreateWindowA(kNotifyClass, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        g_notes.clear();
        m_link = std::make_unique<dde::CTrackingLink>();
        g_link = m_link.get();
        m_link->m_hNotifyWnd = m_window;
    }

    void TearDown() override {
        DestroyLink();
        m_sim.Kill();
        DestroyWindow(m_window);
    }

    // A link that relies on the library to report a partner's end, as Windows' does.
    void UseLinkForReportingLibrary() {
        DestroyLink();
        m_link = std::make_unique<dde::CTrackingLink>(/*silentLibrary=*/false);
        g_link = m_link.get();
        m_link->m_hNotifyWnd = m_window;
    }

    void DestroyLink() {
        if (!m_link) return;
        const DWORD instance = m_link->m_idInst;
        m_link.reset();
        g_link = nullptr;
        g_onNextNote = nullptr;
        // Each test's link has its own DDE instance; the old one must not hear the next test.
        DdeUninitialize(instance);
    }

    void StartSimulator(const std::string& arguments = "") {
        ASSERT_TRUE(m_sim.Start(arguments)) << predsim::SimulatorProcess::DefaultPath();
        ASSERT_TRUE(PumpUntil([&] { return m_sim.CountStartingWith("ready") == 1; }, kTimeoutMs));
    }

    // Sends a command and dispatches messages until the simulator has carried it out.
    void Run(const std::string& command) {
        const size_t before = m_sim.CountStartingWith("ok " + command);
        m_sim.Send(command);
        ASSERT_TRUE(PumpUntil([&] { return m_sim.CountStartingWith("ok " + command) > before; },
                              kTimeoutMs))
            << command;
    }

    // The poll timer's check, at every tick, until it reports the loss.
    bool CheckUntilReported() {
        return PumpUntil(
            [&] {
                m_link->CheckPartner();
                return !g_notes.empty();
            },
            kTimeoutMs);
    }

    bool WaitForNotes(size_t count) {
        return PumpUntil([&] { return g_notes.size() >= count; }, kTimeoutMs);
    }

    // The requests and advise starts the simulator received, in order.
    std::vector<std::string> Transactions() {
        std::vector<std::string> found;
        for (const predsim::Event& e : m_sim.Events()) {
            if (e.text.rfind("request", 0) == 0 || e.text.rfind("advise", 0) == 0) {
                found.push_back(e.text);
            }
        }
        return found;
    }

    // Connects to a running simulator serving 123|45 and "ISS" with both advise loops up.
    void ConnectToServingSimulator() {
        StartSimulator();
        Run("azel 123|45");
        Run("name ISS");
        m_link->Connect();
        ASSERT_NE(m_link->m_hConv, nullptr);
        Run("waitlinks 1");
        g_notes.clear();
    }

    HWND m_window = nullptr;
    std::unique_ptr<dde::CTrackingLink> m_link;
    predsim::SimulatorProcess m_sim;
};

TEST_F(DdeLinkTest, ServerAbsentAtStartThenRegisteringConnectsAtOnce) {
    StartSimulator("--unregistered");
    Run("azel 123|45");
    Run("name ISS (ZARYA)");

    m_link->Connect();
    EXPECT_EQ(m_link->m_hConv, nullptr);
    EXPECT_NE(m_link->m_hszService, nullptr);
    PumpMessages(kQuietMs);
    EXPECT_TRUE(g_notes.empty());
    EXPECT_EQ(m_link->m_nAzimuth, -1000);
    EXPECT_EQ(m_link->m_nElevation, -1000);
    EXPECT_STREQ(m_link->m_szSatellite, "none");

    Run("register");
    ASSERT_TRUE(WaitForNotes(2));
    PumpMessages(kQuietMs);
    ASSERT_EQ(g_notes.size(), 2u);
    EXPECT_EQ(g_notes[0].azimuth, 123);
    EXPECT_EQ(g_notes[0].elevation, 45);
    EXPECT_EQ(g_notes[0].name, "none");
    EXPECT_EQ(g_notes[1].name, "ISS (ZARYA)");
    EXPECT_NE(m_link->m_hConv, nullptr);
}

const std::vector<std::string> kAzElTransactions = {"request 1 AzEl", "request 1 SatelliteName",
                                                    "advise 1 AzEl", "advise 1 SatelliteName"};

TEST_F(DdeLinkTest, RequestsBothItemsThenStartsBothAdviseLoopsAndNothingMore) {
    ConnectToServingSimulator();
    PumpMessages(kQuietMs);
    EXPECT_EQ(Transactions(), kAzElTransactions);
}

// WinOrbit 3.x help, "DDE Server" (advdde.html): items SatelliteName, AzimuthDegrees,
// ElevationDegrees, FreqMHz, DopplerHertz; no "AzEl".
TEST_F(DdeLinkTest, ServerWithoutAzElIsFollowedThroughItsDegreeItems) {
    StartSimulator("--documented-items");
    Run("azel 123|45");
    Run("name ISS");
    m_link->Connect();
    ASSERT_NE(m_link->m_hConv, nullptr);
    Run("waitlinks 1");
    std::vector<std::string> expected = kAzElTransactions;
    for (const char* more : {"request 1 AzimuthDegrees", "request 1 ElevationDegrees",
                             "advise 1 AzimuthDegrees", "advise 1 ElevationDegrees"}) {
        expected.push_back(more);
    }
    EXPECT_EQ(Transactions(), expected);
    // The name, then each angle as its own update; the elevation has no value before its own.
    ASSERT_EQ(g_notes.size(), 3u);
    EXPECT_EQ(g_notes[0].name, "ISS");
    EXPECT_EQ(g_notes[1].azimuth, 123);
    EXPECT_EQ(g_notes[1].elevation, -1000);
    EXPECT_EQ(g_notes[2].azimuth, 123);
    EXPECT_EQ(g_notes[2].elevation, 45);

    g_notes.clear();
    Run("azel 130");  // the azimuth alone
    ASSERT_TRUE(WaitForNotes(1));
    Run("azel |-4");  // the elevation alone
    ASSERT_TRUE(WaitForNotes(2));
    PumpMessages(kQuietMs);
    ASSERT_EQ(g_notes.size(), 2u);
    EXPECT_EQ(g_notes[0].azimuth, 130);
    EXPECT_EQ(g_notes[0].elevation, 45);
    EXPECT_EQ(g_notes[1].azimuth, 130);
    EXPECT_EQ(g_notes[1].elevation, -4);
}

TEST_F(DdeLinkTest, AdviseDataReachesTheLinkWithOneNotificationEach) {
    ConnectToServingSimulator();
    Run("azel 7|-4");
    ASSERT_TRUE(WaitForNotes(1));
    Run("name AO-91");
    ASSERT_TRUE(WaitForNotes(2));
    PumpMessages(kQuietMs);
    ASSERT_EQ(g_notes.size(), 2u);
    EXPECT_EQ(g_notes[0].azimuth, 7);
    EXPECT_EQ(g_notes[0].elevation, -4);
    EXPECT_EQ(g_notes[1].name, "AO-91");
}

TEST_F(DdeLinkTest, ServerEndingTheConversationResetsOnceAndOnlyConnectReconnects) {
    ConnectToServingSimulator();
    Run("terminate");
    ASSERT_TRUE(CheckUntilReported());
    for (int tick = 0; tick < 3; ++tick) m_link->CheckPartner();
    PumpMessages(kQuietMs);
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0].azimuth, 0);
    EXPECT_EQ(g_notes[0].elevation, 0);
    EXPECT_EQ(g_notes[0].name, "none");
    EXPECT_FALSE(g_notes[0].connected);
    EXPECT_EQ(m_link->m_hszService, nullptr);

    Run("unregister");
    Run("register");
    PumpMessages(kQuietMs);
    EXPECT_EQ(g_notes.size(), 1u) << "a registration does not reconnect a dropped link";
    EXPECT_EQ(m_link->m_hConv, nullptr);

    m_link->Connect();
    EXPECT_NE(m_link->m_hConv, nullptr);
    ASSERT_EQ(g_notes.size(), 3u);
    EXPECT_EQ(g_notes[2].name, "ISS");
    EXPECT_EQ(g_notes[1].azimuth, 123);
}

TEST_F(DdeLinkTest, ServerKilledWithoutAWordResetsOnceAndConnectReconnects) {
    ConnectToServingSimulator();
    m_sim.Send("crash");
    ASSERT_TRUE(m_sim.HasExited(kTimeoutMs));
    ASSERT_TRUE(CheckUntilReported());
    m_link->CheckPartner();
    PumpMessages(kQuietMs);
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0].azimuth, 0);
    EXPECT_EQ(g_notes[0].elevation, 0);
    EXPECT_EQ(g_notes[0].name, "none");

    m_sim.Kill();
    StartSimulator();
    Run("azel 10|20");
    m_link->Connect();
    EXPECT_NE(m_link->m_hConv, nullptr);
    EXPECT_EQ(m_link->m_nAzimuth, 10);
    EXPECT_EQ(m_link->m_nElevation, 20);
}

TEST_F(DdeLinkTest, RegistrationWhileConnectedKeepsTheLinkConnectedToTheServer) {
    ConnectToServingSimulator();
    const HCONV first = m_link->m_hConv;
    Run("unregister");
    Run("register");
    PumpMessages(kQuietMs);
    // Where the library allows it (Windows) a second conversation opens and replaces the first
    // in m_hConv; Wine's allows one per service and topic, and the link keeps the one it holds.
    const size_t conversations = m_sim.CountStartingWith("connect ");
    EXPECT_NE(m_link->m_hConv, nullptr);
    if (conversations == 1) {
        EXPECT_EQ(m_link->m_hConv, first);
        EXPECT_TRUE(g_notes.empty());
    } else {
        EXPECT_EQ(g_notes.size(), 2u) << "the second conversation's requests";
        Run("waitlinks 2");
    }
    // Data on every open conversation is taken.
    g_notes.clear();
    Run("azel 200|30");
    ASSERT_TRUE(WaitForNotes(conversations));
    PumpMessages(kQuietMs);
    EXPECT_EQ(g_notes.size(), conversations);
    EXPECT_EQ(m_link->m_nAzimuth, 200);
    EXPECT_EQ(m_link->m_nElevation, 30);
}

TEST_F(DdeLinkTest, DestroyingTheLinkWhileConnectedEndsTheConversation) {
    ConnectToServingSimulator();
    DestroyLink();
    ASSERT_TRUE(
        PumpUntil([&] { return m_sim.CountStartingWith("terminated 1") == 1; }, kTimeoutMs));
}

}  // namespace

namespace {

// Malformed data from the server: each row is one simulator command and what the link then
// holds; "used" says whether the data was taken (with one notification) or refused (none).
struct MalformedCase {
    const char* command;
    bool used;
    int azimuth;
    int elevation;
    const char* name;
};

void PrintTo(const MalformedCase& c, std::ostream* out) {
    *out << c.command;
}

class DdeMalformedDataTest : public DdeLinkTest,
                             public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(DdeMalformedDataTest, LinkTakesOrRefusesItAsTheTextRulesSay) {
    ConnectToServingSimulator();
    Run(GetParam().command);
    PumpMessages(kQuietMs);
    EXPECT_EQ(g_notes.size(), GetParam().used ? 1u : 0u);
    EXPECT_EQ(m_link->m_nAzimuth, GetParam().azimuth);
    EXPECT_EQ(m_link->m_nElevation, GetParam().elevation);
    EXPECT_STREQ(m_link->m_szSatellite, GetParam().name);
    // And the link still works afterwards.
    const size_t notes = g_notes.size();
    Run("azel 1|2");
    ASSERT_TRUE(WaitForNotes(notes + 1));
    EXPECT_EQ(m_link->m_nAzimuth, 1);
}

const std::string kName31 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234";
const std::string kName200 = kName31 + std::string(169, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, DdeMalformedDataTest,
    ::testing::Values(
        MalformedCase{"sized azel 249 12|34", true, 12, 34, "ISS"},
        MalformedCase{"sized azel 250 12|34", false, 123, 45, "ISS"},
        MalformedCase{"sized azel 4000 12|34", false, 123, 45, "ISS"},
        MalformedCase{"nonul azel 56|7", true, 56, 7, "ISS"},
        MalformedCase{"nonul name NOAA 19", true, 123, 45, "NOAA 19"},
        MalformedCase{"sized name 249 FO-29", true, 123, 45, "FO-29"},
        MalformedCase{"sized name 250 FO-29", false, 123, 45, "ISS"},
        MalformedCase{"azel 123.8|45.9", true, 123, 45, "ISS"},
        MalformedCase{"azel abc", true, 0, 0, "ISS"},
        MalformedCase{"azel 99999999999|-99999999999", true, 2147483647, INT32_MIN, "ISS"},
        MalformedCase{"name ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", true, 123, 45,
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
        MalformedCase{"name ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", true, 123, 45,
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
        MalformedCase{"sized name 201 ABCDEFGHIJKLMNOPQRSTUVWXYZ01234xxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
                      true, 123, 45, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"}));

// Binary junk has no expected value of its own; it must be taken or refused by its size
// without harm, and nothing past the name field may change.
TEST_F(DdeLinkTest, BinaryJunkIsHandledWithoutHarm) {
    ConnectToServingSimulator();
    for (const char* command : {"junk azel 200 1", "junk name 200 2", "junk azel 1 3",
                                "junk name 249 4", "junk azel 250 5", "junk name 3000 6"}) {
        Run(command);
    }
    PumpMessages(kQuietMs);
    EXPECT_EQ(g_notes.size(), 4u) << "the four below 250 bytes, one each";
    EXPECT_LT(strlen(m_link->m_szSatellite), 32u);
    Run("azel 5|6");
    ASSERT_TRUE(WaitForNotes(5));
    EXPECT_EQ(m_link->m_nAzimuth, 5);
    EXPECT_EQ(m_link->m_nElevation, 6);
}

TEST_F(DdeLinkTest, RefusedRequestsChangeNothingAndAdviseDataStillArrives) {
    StartSimulator();
    Run("azel 123|45");
    Run("refuse on");
    m_link->Connect();
    ASSERT_NE(m_link->m_hConv, nullptr);
    EXPECT_TRUE(g_notes.empty());
    EXPECT_EQ(m_link->m_nAzimuth, -1000);
    EXPECT_STREQ(m_link->m_szSatellite, "none");
    Run("waitlinks 1");
    Run("azel 3|4");
    ASSERT_TRUE(WaitForNotes(1));
    EXPECT_EQ(m_link->m_nAzimuth, 3);
}

// A server without "AzEl" that has hung: an advise start that times out is no refusal, so
// the other items are not tried, each with its own wait.
TEST_F(DdeLinkTest, UnansweredTransactionsTimeOutChangeNothingAndTryNoOtherItems) {
    StartSimulator("--documented-items");
    Run("azel 123|45");
    Run("mute on");
    const DWORD start = GetTickCount();
    m_link->Connect();
    const DWORD elapsed = GetTickCount() - start;
    ASSERT_NE(m_link->m_hConv, nullptr);
    EXPECT_GE(elapsed, 3900u) << "two requests and two advise starts of 1000 ms each";
    PumpMessages(kQuietMs);
    EXPECT_EQ(Transactions(), kAzElTransactions);
    EXPECT_TRUE(g_notes.empty());
    EXPECT_EQ(m_link->m_nAzimuth, -1000);
}

// The end-of-conversation event where the platform raises it, handed to the callback here.
TEST_F(DdeLinkTest, DisconnectEventResetsWithoutEndingTheConversationItself) {
    ConnectToServingSimulator();
    const HCONV conv = m_link->m_hConv;
    EXPECT_EQ(dde::DdeCallback(XTYP_DISCONNECT, 0, conv, nullptr, nullptr, nullptr, 0, 0), nullptr);
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0].azimuth, 0);
    EXPECT_EQ(g_notes[0].elevation, 0);
    EXPECT_EQ(g_notes[0].name, "none");
    EXPECT_EQ(m_link->m_hConv, nullptr);
    EXPECT_EQ(m_link->m_hszService, nullptr);
    EXPECT_EQ(m_link->m_hszAzEl, nullptr);
    EXPECT_EQ(m_link->m_hszSatName, nullptr);
    PumpMessages(kQuietMs);
    EXPECT_EQ(m_sim.CountStartingWith("terminated"), 0u) << "the server ended it, not the link";
}

TEST_F(DdeLinkTest, LateDisconnectEventAfterTheCheckIsNotReportedAgain) {
    ConnectToServingSimulator();
    const HCONV conv = m_link->m_hConv;
    m_sim.Send("crash");
    ASSERT_TRUE(m_sim.HasExited(kTimeoutMs));
    ASSERT_TRUE(CheckUntilReported());
    dde::DdeCallback(XTYP_DISCONNECT, 0, conv, nullptr, nullptr, nullptr, 0, 0);
    EXPECT_EQ(g_notes.size(), 1u);
}

TEST_F(DdeLinkTest, CallbackResultsAndDataForAnotherItem) {
    ConnectToServingSimulator();
    HSZ other = DdeCreateStringHandleA(m_link->m_idInst, "Doppler", CP_WINANSI);
    const char text[] = "77|11";
    HDDEDATA data =
        DdeCreateDataHandle(m_link->m_idInst, reinterpret_cast<LPBYTE>(const_cast<char*>(text)),
                            sizeof text, 0, other, CF_TEXT, 0);
    ASSERT_NE(data, nullptr);
    // Another item: no change, but a notification; the result is DDE_FACK all the same.
    EXPECT_EQ(dde::DdeCallback(XTYP_ADVDATA, CF_TEXT, m_link->m_hConv, nullptr, other, data, 0, 0),
              reinterpret_cast<HDDEDATA>(DDE_FACK));
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(m_link->m_nAzimuth, 123);
    // The same data as "AzEl" is taken.
    EXPECT_EQ(dde::DdeCallback(XTYP_ADVDATA, CF_TEXT, m_link->m_hConv, nullptr, m_link->m_hszAzEl,
                               data, 0, 0),
              reinterpret_cast<HDDEDATA>(DDE_FACK));
    EXPECT_EQ(m_link->m_nAzimuth, 77);
    EXPECT_EQ(m_link->m_nElevation, 11);
    // A refused data handle: no change, no notification, still DDE_FACK.
    EXPECT_EQ(dde::DdeCallback(XTYP_ADVDATA, CF_TEXT, m_link->m_hConv, nullptr, m_link->m_hszAzEl,
                               nullptr, 0, 0),
              reinterpret_cast<HDDEDATA>(DDE_FACK));
    EXPECT_EQ(g_notes.size(), 2u);
    // Registration of another service, and other events: nothing, result 0.
    EXPECT_EQ(dde::DdeCallback(XTYP_REGISTER, 0, nullptr, other, nullptr, nullptr, 0, 0), nullptr);
    EXPECT_EQ(
        dde::DdeCallback(XTYP_UNREGISTER, 0, nullptr, m_link->m_hszService, nullptr, nullptr, 0, 0),
        nullptr);
    EXPECT_EQ(g_notes.size(), 2u);
    EXPECT_EQ(m_sim.CountStartingWith("connect "), 1u);
    DdeFreeDataHandle(data);
    DdeFreeStringHandle(m_link->m_idInst, other);
}

TEST_F(DdeLinkTest, ConnectAgainKeepsTheSameItemHandleValues) {
    ConnectToServingSimulator();
    const HSZ azEl = m_link->m_hszAzEl;
    const HSZ satName = m_link->m_hszSatName;
    Run("terminate");
    ASSERT_TRUE(CheckUntilReported());
    m_link->Connect();
    ASSERT_NE(m_link->m_hConv, nullptr);
    // Same text, same value: advise data is matched against them by value.
    EXPECT_EQ(m_link->m_hszAzEl, azEl);
    EXPECT_EQ(m_link->m_hszSatName, satName);
}

}  // namespace

namespace {

size_t AdviseStarts(predsim::SimulatorProcess& sim) {
    return sim.CountStartingWith("advise ");
}

TEST_F(DdeLinkTest, NestedCallsDuringConnectChangeNothingAndAnEndMidConnectIsReportedAfter) {
    StartSimulator();
    Run("azel 123|45");
    Run("name ISS");
    int nestedConnect = -1;
    HCONV during = nullptr;
    g_onNextNote = [&] {
        during = m_link->m_hConv;
        nestedConnect = m_link->Connect();
        m_link->CheckPartner();
        // The partner ends while Connect still has requests and advise starts to make.
        dde::DdeCallback(XTYP_DISCONNECT, 0, during, nullptr, nullptr, nullptr, 0, 0);
        EXPECT_EQ(m_link->m_hConv, during);
        EXPECT_NE(m_link->m_hszAzEl, nullptr);
        EXPECT_NE(m_link->m_hszSatName, nullptr);
    };
    m_link->Connect();
    ASSERT_NE(during, nullptr);
    EXPECT_EQ(nestedConnect, 0);
    EXPECT_TRUE(PumpUntil([&] { return AdviseStarts(m_sim) == 2; }, kTimeoutMs))
        << "Connect went on with its conversation";
    EXPECT_EQ(m_sim.CountStartingWith("connect "), 1u);
    EXPECT_EQ(m_link->m_hConv, nullptr) << "the end was reported once Connect had finished";
    EXPECT_EQ(g_notes.back().name, "none");
}

TEST_F(DdeLinkTest, DisconnectEventForAnotherConversationIsIgnored) {
    ConnectToServingSimulator();
    const HCONV held = m_link->m_hConv;
    const HCONV other = reinterpret_cast<HCONV>(reinterpret_cast<ULONG_PTR>(held) ^ 0x10);
    dde::DdeCallback(XTYP_DISCONNECT, 0, other, nullptr, nullptr, nullptr, 0, 0);
    EXPECT_TRUE(g_notes.empty());
    EXPECT_EQ(m_link->m_hConv, held);
}

TEST_F(DdeLinkTest, WhereTheLibraryReportsEndsTheCheckLeavesTheLibraryAlone) {
    UseLinkForReportingLibrary();
    ConnectToServingSimulator();
    const DWORD instance = m_link->m_idInst;
    const HCONV conv = m_link->m_hConv;
    Run("terminate");
    ASSERT_TRUE(CheckUntilReported());
    EXPECT_EQ(m_link->m_idInst, instance) << "the instance is not made again";
    CONVINFO info = {};
    info.cb = sizeof info;
    EXPECT_NE(DdeQueryConvInfo(conv, QID_SYNC, &info), 0u) << "the library still holds it";
    EXPECT_TRUE(IsWindow(info.hwnd)) << "nor is its window destroyed";
    dde::DdeCallback(XTYP_DISCONNECT, 0, conv, nullptr, nullptr, nullptr, 0, 0);
    EXPECT_EQ(g_notes.size(), 1u) << "the library's own report of that end is not repeated";
}

TEST_F(DdeLinkTest, EndOfANewConversationIsReportedAfterAnEarlierOneWasLost) {
    ConnectToServingSimulator();
    m_sim.Send("crash");
    ASSERT_TRUE(m_sim.HasExited(kTimeoutMs));
    ASSERT_TRUE(CheckUntilReported());
    m_sim.Kill();
    StartSimulator();
    Run("azel 10|20");
    m_link->Connect();
    ASSERT_NE(m_link->m_hConv, nullptr);
    g_notes.clear();
    // Handle values are reused, so this one may well be the lost one's.
    dde::DdeCallback(XTYP_DISCONNECT, 0, m_link->m_hConv, nullptr, nullptr, nullptr, 0, 0);
    EXPECT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(m_link->m_hConv, nullptr);
}

}  // namespace
