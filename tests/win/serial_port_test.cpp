// The COM port list, opening, line settings, writing and closing, on the simulated controller.
#include <string>
#include <vector>

#include "tests/win/serial_test_support.h"

namespace {

using serial_tests::SerialTest;
using testing_support::ItemText;

std::vector<std::string> ListedPorts(HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_PORT);
    std::vector<std::string> names;
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char name[32] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        names.push_back(name + std::string("=") +
                        std::to_string(SendMessageA(combo, CB_GETITEMDATA, i, 0)));
    }
    return names;
}

std::string SelectedPort(HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_PORT);
    char name[32] = {};
    SendMessageA(combo, CB_GETLBTEXT, SendMessageA(combo, CB_GETCURSEL, 0, 0),
                 reinterpret_cast<LPARAM>(name));
    return name;
}

struct ListCase {
    const char* name;
    std::vector<int> present;
    int commandLinePort;
    std::vector<std::string> listed;  // text=item data
    std::string selected;
    int chosenPort;
};

class PortList : public SerialTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(PortList, ListsOpenablePortsAndChoosesOne) {
    const ListCase& c = GetParam();
    ASSERT_TRUE(m_sim.Connected());
    ASSERT_TRUE(m_sim
                    .Command("ports" +
                             [&] {
                                 std::string s;
                                 for (int p : c.present) s += " " + std::to_string(p);
                                 return s;
                             }())
                    .rfind("ok", 0) == 0);
    OpenWindow(c.commandLinePort);
    EXPECT_EQ(ListedPorts(m_dialog->m_hWnd), c.listed);
    EXPECT_EQ(SelectedPort(m_dialog->m_hWnd), c.selected);
    EXPECT_EQ(m_dialog->m_nPort, c.chosenPort);
    EXPECT_NE(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE) << "the chosen port is opened";
    EXPECT_NE(m_dialog->m_serial.m_dwThreadId, 0u) << "and its receive worker runs";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortList,
    ::testing::Values(
        ListCase{"AskedPortMissingTakesFirst", {1, 3}, 2, {"COM1=1", "COM3=3"}, "COM1", 1},
        ListCase{"AskedPortPresent", {1, 2}, 2, {"COM1=1", "COM2=2"}, "COM2", 2},
        ListCase{"AskedPortBeyondListTakesFirst", {1, 3}, 5, {"COM1=1", "COM3=3"}, "COM1", 1},
        ListCase{"OnlyCom3", {3}, 1, {"COM3=3"}, "COM3", 3},
        ListCase{"AllThreeAskedThird", {1, 2, 3}, 3, {"COM1=1", "COM2=2", "COM3=3"}, "COM3", 3},
        ListCase{"NoPortBeyondThree", {1, 4}, 4, {"COM1=1"}, "COM1", 1}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST_F(SerialTest, PortHeldElsewhereIsNotListedAndCannotBeOpened) {
    UsePorts({1, 3});
    // Another open of COM1 without sharing, as another program holding it would have.
    HANDLE holder =
        CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    HANDLE second =
        CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (second != INVALID_HANDLE_VALUE) {
        CloseHandle(second);
        CloseHandle(holder);
        GTEST_SKIP() << "this platform does not enforce exclusive opens of COM ports (Wine)";
    }
    OpenWindow(1);
    EXPECT_EQ(ListedPorts(m_dialog->m_hWnd), (std::vector<std::string>{"COM3=3"}));
    EXPECT_EQ(m_dialog->m_nPort, 3);

    EXPECT_EQ(m_dialog->ClosePort(), 1);
    EXPECT_EQ(m_dialog->OpenPort(1), 0);
    EXPECT_EQ(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_dialog->m_serial.m_dwThreadId, 0u);
    CloseHandle(holder);
    EXPECT_EQ(m_dialog->OpenPort(1), 1) << "free again";
}

TEST_F(SerialTest, OpenConfiguresNineSixHundredEightNoneOneWithoutFlowControl) {
    UsePorts({1});
    OpenWindow(1);
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(m_dialog->m_serial.m_hPort, &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    // fDtrControl is not checked: Wine reports it from the tty's hang-up flag, not as set.
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
}

TEST_F(SerialTest, OpenWhileOpenAndCloseWhileClosedChangeNothing) {
    UsePorts({1, 3});
    OpenWindow(1);
    ui::CRotatorDlg& d = *m_dialog;
    const HANDLE port = d.m_serial.m_hPort;
    const DWORD worker = d.m_serial.m_dwThreadId;
    EXPECT_EQ(d.OpenPort(3), 0);
    EXPECT_EQ(d.OpenPort(1), 0);
    EXPECT_EQ(d.m_serial.m_hPort, port);
    EXPECT_EQ(d.m_serial.m_dwThreadId, worker);

    EXPECT_EQ(d.ClosePort(), 1);
    EXPECT_EQ(d.m_serial.m_hPort, INVALID_HANDLE_VALUE);
    EXPECT_EQ(d.m_serial.m_dwThreadId, 0u);
    EXPECT_EQ(d.m_serial.m_bStopThread, FALSE);
    EXPECT_EQ(d.ClosePort(), 1);
    EXPECT_EQ(d.m_serial.m_hPort, INVALID_HANDLE_VALUE);

    EXPECT_EQ(d.OpenPort(3), 1) << "another port opens after a close";
    EXPECT_NE(d.m_serial.m_dwThreadId, 0u);
    EXPECT_NE(d.m_serial.m_dwThreadId, worker) << "with a new worker";
}

TEST_F(SerialTest, SendCommandWritesExactBytesAndEchoesThem) {
    UsePorts({1});
    OpenWindow(1);
    ASSERT_TRUE(m_sim.Clear(1));
    SetDlgItemTextA(m_dialog->m_hWnd, IDC_LOG, "");
    EXPECT_EQ(m_dialog->SendCommand("A\r\nS\r\n"), 1);
    std::string received;
    testing_support::PumpUntil([&] { return (received = m_sim.Received(1)).size() >= 6; },
                               serial_tests::kWaitMs);
    testing_support::PumpMessages(100);
    EXPECT_EQ(m_sim.Received(1), "A\r\nS\r\n");
    EXPECT_EQ(ItemText(m_dialog->m_hWnd, IDC_LOG), "A\r\nS\r\n");
}

TEST_F(SerialTest, SendCommandWithoutOpenPortIsRefusedAndNotLogged) {
    UsePorts({1});
    OpenWindow(1);
    ASSERT_EQ(m_dialog->ClosePort(), 1);
    SetDlgItemTextA(m_dialog->m_hWnd, IDC_LOG, "");
    EXPECT_EQ(m_dialog->SendCommand("E\r\n"), 0);
    EXPECT_EQ(ItemText(m_dialog->m_hWnd, IDC_LOG), "");
    testing_support::PumpMessages(100);
    EXPECT_EQ(m_sim.Received(1), "");
}

// A port change right after a tracking command (an elevation command has no settle pause after
// it): bytes the port has taken may still be on their way, in a USB adapter's buffer or, under
// Wine, in the pty. A deaf controller and empty lines beyond the 4 KB that the reading side of a
// pty buffers keep the command in the kernel's queue, the part a transmit purge drops.
TEST_F(SerialTest, CommandTakenByThePortSurvivesAnImmediateClose) {
    constexpr size_t kPtyReaderBufferBytes = 4096;
    UsePorts({1});
    OpenWindow(1);
    ASSERT_TRUE(m_sim.Deaf(1, true));
    std::string emptyLines;
    while (emptyLines.size() < kPtyReaderBufferBytes) emptyLines += "\r\n";
    ASSERT_EQ(m_dialog->SendCommand(emptyLines.c_str()), 1);
    EXPECT_EQ(m_dialog->SendCommand("E\r\n000\r\n"), 1);
    EXPECT_EQ(m_dialog->ClosePort(), 1);
    ASSERT_TRUE(m_sim.Deaf(1, false));
    const std::string sent = emptyLines + "E\r\n000\r\n";
    std::string received;
    testing_support::PumpUntil([&] { return (received = m_sim.Received(1)).size() >= sent.size(); },
                               serial_tests::kWaitMs);
    EXPECT_EQ(received.size(), sent.size()) << "bytes the port had taken were dropped";
    EXPECT_TRUE(received == sent) << "in order, unchanged";
}

TEST_F(SerialTest, ChoosingAnotherPortMovesTheLinkThere) {
    UsePorts({1, 3});
    OpenWindow(1);
    SelectPort(3);
    EXPECT_EQ(m_dialog->m_nPort, 3);
    ASSERT_NE(m_dialog->m_serial.m_hPort, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(m_sim.Clear(1) && m_sim.Clear(3));
    EXPECT_EQ(m_dialog->SendCommand("E\r\n"), 1);
    testing_support::PumpUntil([&] { return m_sim.Received(3).size() >= 3; },
                               serial_tests::kWaitMs);
    EXPECT_EQ(m_sim.Received(3), "E\r\n");
    EXPECT_EQ(m_sim.Received(1), "");
    // COM1 was released: another program could take it now.
    HANDLE other =
        CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

}  // namespace
