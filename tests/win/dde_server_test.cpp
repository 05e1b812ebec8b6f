// The DDE server that speaks the message protocol itself (kelmafeed's "WinOrbit" service), in the
// prediction-server simulator's process, against a client in this process that speaks the
// protocol itself too: the messages a DDE library's client would not send on its own.
#include <windows.h>
#include <dde.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "tools/predsim/predsim_process.h"

namespace {

using testing_support::PumpUntil;

constexpr DWORD kTimeoutMs = 8000;
constexpr UINT_PTR kAckPositive = 0x8000;
constexpr char kClientClass[] = "DdeServerTestClient";
// DDEPOKE and DDEADVISE: a flags word, then the clipboard format.
constexpr size_t kFormatOffset = sizeof(WORD);
constexpr size_t kHeaderSize = offsetof(DDEPOKE, Value);

std::vector<MSG> g_received;  // the DDE messages that reached the client window

LRESULT CALLBACK ClientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message < WM_DDE_FIRST || message > WM_DDE_LAST) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    g_received.push_back({window, message, wParam, lParam, 0, {}});
    return 0;
}

// Global memory with the text and its NUL, after a DDEPOKE or DDEADVISE header when it has a
// format (commands have none).
HGLOBAL DdeMemory(const std::string& text, WORD format = 0) {
    const size_t header = format != 0 ? kHeaderSize : 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, header + text.size() + 1);
    char* bytes = static_cast<char*>(GlobalLock(memory));
    if (format != 0) std::memcpy(bytes + kFormatOffset, &format, sizeof format);
    std::memcpy(bytes + header, text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    return memory;
}

class DdeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ClientProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClientClass;
        RegisterClassA(&wc);
        // Message-only: it does not hear its own broadcast.
        m_client = CreateWindowA(kClientClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        g_received.clear();
        ASSERT_TRUE(m_sim.Start()) << predsim::SimulatorProcess::DefaultPath();
        ASSERT_TRUE(PumpUntil([&] { return m_sim.CountStartingWith("ready") == 1; }, kTimeoutMs));
        const ATOM application = GlobalAddAtomA("WinOrbit");
        const ATOM topic = GlobalAddAtomA("TrackingInfo");
        SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(m_client),
                            MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, kTimeoutMs, nullptr);
        GlobalDeleteAtom(application);
        GlobalDeleteAtom(topic);
        ASSERT_EQ(g_received.size(), 1u);  // the server's acknowledgement, sent and not packed
        m_server = reinterpret_cast<HWND>(g_received[0].wParam);
        GlobalDeleteAtom(LOWORD(g_received[0].lParam));
        GlobalDeleteAtom(HIWORD(g_received[0].lParam));
    }

    void TearDown() override {
        m_sim.Kill();
        DestroyWindow(m_client);
    }

    // Posts a message to the server and waits for its acknowledgement's two parts: the status
    // and the item's atom (the commands, for an execute). False when none came.
    bool Answer(UINT message, LPARAM lParam, UINT_PTR* status, UINT_PTR* second) {
        g_received.clear();
        PostMessageA(m_server, message, reinterpret_cast<WPARAM>(m_client), lParam);
        if (!PumpUntil([] { return !g_received.empty(); }, kTimeoutMs)) return false;
        EXPECT_EQ(g_received[0].message, static_cast<UINT>(WM_DDE_ACK));
        UnpackDDElParam(WM_DDE_ACK, g_received[0].lParam, status, second);
        FreeDDElParam(WM_DDE_ACK, g_received[0].lParam);
        return true;
    }

    HWND m_client = nullptr;
    HWND m_server = nullptr;
    predsim::SimulatorProcess m_sim;
};

TEST_F(DdeServerTest, PokeAndExecuteAreRefusedAtOnceAndTheCommandsHandedBack) {
    HGLOBAL poke = DdeMemory("12|34", CF_TEXT);
    const ATOM item = GlobalAddAtomA("AzEl");
    UINT_PTR status = 0, second = 0;
    ASSERT_TRUE(Answer(WM_DDE_POKE,
                       PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(poke), item), &status,
                       &second));
    EXPECT_EQ(status & kAckPositive, 0u);
    EXPECT_EQ(second, item);
    GlobalDeleteAtom(item);
    GlobalFree(poke);  // a refused poke's data stays the client's

    HGLOBAL commands = DdeMemory("[Track(ISS)]");
    ASSERT_TRUE(Answer(WM_DDE_EXECUTE, reinterpret_cast<LPARAM>(commands), &status, &second));
    EXPECT_EQ(status & kAckPositive, 0u);
    EXPECT_EQ(second, reinterpret_cast<UINT_PTR>(commands));
    GlobalFree(commands);
}

TEST_F(DdeServerTest, ClientWindowGoneWithoutTerminateEndsItsConversation) {
    HGLOBAL options = DdeMemory("", CF_TEXT);
    const ATOM item = GlobalAddAtomA("AzEl");
    UINT_PTR status = 0, second = 0;
    ASSERT_TRUE(Answer(WM_DDE_ADVISE,
                       PackDDElParam(WM_DDE_ADVISE, reinterpret_cast<UINT_PTR>(options), item),
                       &status, &second));
    ASSERT_NE(status & kAckPositive, 0u);
    GlobalDeleteAtom(item);

    DestroyWindow(m_client);  // as when the client's program is killed: no WM_DDE_TERMINATE
    m_sim.Send("azel 3|4");
    m_sim.Send("azel 5|6");
    ASSERT_TRUE(PumpUntil([&] { return m_sim.CountStartingWith("ok azel 5|6") == 1; }, kTimeoutMs));
    EXPECT_EQ(m_sim.CountStartingWith("lost 1"), 1u);
    EXPECT_EQ(m_sim.CountStartingWith("gone 1"), 1u);
    EXPECT_EQ(m_sim.CountStartingWith("post 1"), 1u) << "posted to a window that is gone";
}

}  // namespace
