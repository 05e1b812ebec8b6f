// The DDE server that speaks the message protocol itself (kelmafeed's "WinOrbit" service), in the
// prediction-server simulator's process, against a client in this process that speaks the
// protocol itself too: the messages a DDE library's client would not send on its own.
#include <windows.h>
#include <dde.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "tools/predsim/predsim_process.h"

namespace {

using testing_support::PumpUntil;

constexpr DWORD kTimeoutMs = 8000;
constexpr WORD kAckPositive = 0x8000;
constexpr char kClientClass[] = "DdeServerTestClient";

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Received> g_received;  // the DDE messages that reached the client window

LRESULT CALLBACK ClientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_DDE_FIRST && message <= WM_DDE_LAST) {
        g_received.push_back({message, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string AtomName(UINT_PTR atom) {
    char name[256] = "";
    GlobalGetAtomNameA(static_cast<ATOM>(atom), name, sizeof name);
    return name;
}

// Global memory with the text (and its NUL) after a header of the given size, whose second word
// is the clipboard format (DDEPOKE, DDEADVISE); no header for commands.
HGLOBAL DdeMemory(size_t header, const std::string& text, WORD format) {
    HGLOBAL memory =
        GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, header + text.size() + 1);
    char* bytes = static_cast<char*>(GlobalLock(memory));
    if (header > 0) std::memcpy(bytes + sizeof(WORD), &format, sizeof format);
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
        Run("azel 1|2");
        Connect();
    }

    void TearDown() override {
        m_sim.Kill();
        DestroyWindow(m_client);
    }

    void Run(const std::string& command) {
        const size_t before = m_sim.CountStartingWith("ok " + command);
        m_sim.Send(command);
        ASSERT_TRUE(PumpUntil([&] { return m_sim.CountStartingWith("ok " + command) > before; },
                              kTimeoutMs))
            << command;
    }

    // The initiate is broadcast and answered with a sent acknowledgement.
    void Connect() {
        const ATOM application = GlobalAddAtomA("WinOrbit");
        const ATOM topic = GlobalAddAtomA("TrackingInfo");
        DWORD_PTR unused = 0;
        SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(m_client),
                            MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, kTimeoutMs, &unused);
        GlobalDeleteAtom(application);
        GlobalDeleteAtom(topic);
        ASSERT_EQ(g_received.size(), 1u);
        ASSERT_EQ(g_received[0].message, static_cast<UINT>(WM_DDE_ACK));
        m_server = reinterpret_cast<HWND>(g_received[0].wParam);
        GlobalDeleteAtom(LOWORD(g_received[0].lParam));
        GlobalDeleteAtom(HIWORD(g_received[0].lParam));
        g_received.clear();
    }

    // Posts a message to the server and waits for its acknowledgement: (status, atom or memory).
    std::optional<std::pair<UINT_PTR, UINT_PTR>> Answer(UINT message, LPARAM lParam) {
        g_received.clear();
        PostMessageA(m_server, message, reinterpret_cast<WPARAM>(m_client), lParam);
        if (!PumpUntil([] { return !g_received.empty(); }, kTimeoutMs)) return std::nullopt;
        EXPECT_EQ(g_received[0].message, static_cast<UINT>(WM_DDE_ACK));
        EXPECT_EQ(g_received[0].wParam, reinterpret_cast<WPARAM>(m_server));
        UINT_PTR status = 0, second = 0;
        UnpackDDElParam(WM_DDE_ACK, g_received[0].lParam, &status, &second);
        FreeDDElParam(WM_DDE_ACK, g_received[0].lParam);
        return std::make_pair(status, second);
    }

    HWND m_client = nullptr;
    HWND m_server = nullptr;
    predsim::SimulatorProcess m_sim;
};

TEST_F(DdeServerTest, PokeAndExecuteAreRefusedAtOnceAndTheCommandsHandedBack) {
    HGLOBAL poke = DdeMemory(offsetof(DDEPOKE, Value), "12|34", CF_TEXT);
    const ATOM item = GlobalAddAtomA("AzEl");
    const auto poked =
        Answer(WM_DDE_POKE, PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(poke), item));
    ASSERT_TRUE(poked) << "no answer to the poke";
    EXPECT_EQ(poked->first & kAckPositive, 0u);
    EXPECT_EQ(AtomName(poked->second), "AzEl");
    GlobalDeleteAtom(static_cast<ATOM>(poked->second));
    GlobalFree(poke);  // a refused poke's data stays the client's

    HGLOBAL commands = DdeMemory(0, "[Track(ISS)]", 0);
    const auto executed = Answer(WM_DDE_EXECUTE, reinterpret_cast<LPARAM>(commands));
    ASSERT_TRUE(executed) << "no answer to the commands";
    EXPECT_EQ(executed->first & kAckPositive, 0u);
    EXPECT_EQ(executed->second, reinterpret_cast<UINT_PTR>(commands));
    GlobalFree(commands);
}

TEST_F(DdeServerTest, ClientWindowGoneWithoutTerminateEndsItsConversation) {
    HGLOBAL options = DdeMemory(offsetof(DDEADVISE, cfFormat) + sizeof(short), "", CF_TEXT);
    const auto advised = Answer(
        WM_DDE_ADVISE,
        PackDDElParam(WM_DDE_ADVISE, reinterpret_cast<UINT_PTR>(options), GlobalAddAtomA("AzEl")));
    ASSERT_TRUE(advised);
    ASSERT_NE(advised->first & kAckPositive, 0u);
    GlobalDeleteAtom(static_cast<ATOM>(advised->second));

    // As when the client's program is killed: no WM_DDE_TERMINATE.
    DestroyWindow(m_client);
    Run("azel 3|4");
    Run("azel 5|6");
    EXPECT_EQ(m_sim.CountStartingWith("lost 1"), 1u);
    EXPECT_EQ(m_sim.CountStartingWith("gone 1"), 1u);
    EXPECT_EQ(m_sim.CountStartingWith("post 1"), 1u) << "posted to a window that is gone";
}

}  // namespace
