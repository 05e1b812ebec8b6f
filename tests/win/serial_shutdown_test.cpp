// Destroying the operator window's object while the controller streams: the receive worker
// must have stopped before the object goes, every time.
#include <windows.h>
#include <tlhelp32.h>

#include "tests/win/serial_test_support.h"

namespace {

using serial_tests::SerialTest;

constexpr int kRounds = 20;

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

// Whether the thread with this id still runs.
bool ThreadRuns(DWORD id) {
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) return false;
    const bool runs = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return runs;
}

TEST_F(SerialTest, DestroyingTheWindowWhileStreamingStopsTheWorkerEveryTime) {
    UsePorts({1});
    serial_tests::Streamer streamer(1);
    const int threadsBefore = ThreadsOfThisProcess();
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(m_sim.Command("flush 1").rfind("ok", 0) == 0);  // no backlog between rounds
        OpenWindow(1);
        const DWORD worker = m_dialog->m_serial.m_dwThreadId;
        ASSERT_NE(worker, 0u) << "round " << round;
        serial_tests::PumpFor(30 + round * 7 % 50);
        m_dialog.reset();
        EXPECT_FALSE(ThreadRuns(worker)) << "round " << round;
    }
    EXPECT_LE(ThreadsOfThisProcess(), threadsBefore + 1) << "no worker left behind";
}

}  // namespace
