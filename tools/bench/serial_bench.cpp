// Serial link figures under Wine with the controller simulator (KELMA_SIM_CONTROL):
//   1. port change time (ClosePort + OpenPort through the port combo box) while the
//      controller streams, median and worst;
//   2. CPU time of the whole process during those changes;
//   3. CPU time of the whole process while the controller answers the 2000 ms polls;
//   4. how long the window takes to handle one ID_SERIAL_DATA while streaming.
// Usage: serial_bench.exe [--changes N] [--seconds S]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "tests/win/support/sim_client.h"
#include "ui/rotator_dlg.h"

namespace {

constexpr DWORD kStreamPauseMs = 30;  // two report lines per 30 ms: about 9600 bit/s
constexpr DWORD kPumpBetweenChangesMs = 20;
constexpr int kIdleSeconds = 10;

double Seconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// User plus kernel time of all threads of this process, in seconds.
double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;  // 100 ns units
}

// Keeps the controller on one port sending report lines, over its own connection; Follow moves
// the stream to the port the window has just opened.
class Streamer {
public:
    explicit Streamer(int port) : m_port(port) {
        m_thread = std::thread([this] {
            SimClient sim;
            while (!m_stop && sim.Connected()) {
                sim.Send(m_port, "AZP 123.0 MV\r\nELP 045.0 ST\r\n");
                Sleep(kStreamPauseMs);
            }
        });
    }
    ~Streamer() {
        m_stop = true;
        m_thread.join();
    }
    void Follow(int port) { m_port = port; }

private:
    std::atomic<int> m_port;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Times the window's handling of ID_SERIAL_DATA by sitting in front of its window procedure.
// With swallowFor set it empties the ring itself instead, so that only the serial link's own
// cost is left in the figures.
struct HandlerTimer {
    static inline WNDPROC oldProc = nullptr;
    static inline std::vector<double> seconds;
    static inline ui::CRotatorDlg* swallowFor = nullptr;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_COMMAND || wParam != MAKEWPARAM(ID_SERIAL_DATA, 0))
            return CallWindowProcA(oldProc, hwnd, message, wParam, lParam);
        if (swallowFor != nullptr) {
            swallowFor->m_serial.m_csRxRing.lock();
            swallowFor->m_serial.m_pRxRead = swallowFor->m_serial.m_pRxWrite;
            swallowFor->m_serial.m_csRxRing.unlock();
            return 0;
        }
        const LONGLONG start = Now();
        const LRESULT result = CallWindowProcA(oldProc, hwnd, message, wParam, lParam);
        seconds.push_back(Seconds(Now() - start));
        return result;
    }
    static void Install(HWND hwnd, ui::CRotatorDlg* swallow) {
        seconds.clear();
        swallowFor = swallow;
        oldProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
};

void SelectPort(ui::CRotatorDlg& dialog, int port) {
    HWND combo = dialog.GetDlgItem(IDC_PORT);
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        if (SendMessageA(combo, CB_GETITEMDATA, i, 0) != port) continue;
        SendMessageA(combo, CB_SETCURSEL, i, 0);
        SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool PortChanges(SimClient& sim, int changes, bool swallow) {
    if (!sim.Ports({1, 3}) || !sim.Auto(1, false) || !sim.Auto(3, false)) return false;
    auto dialog = testing_support::OpenRotatorDialog(1);
    if (!dialog) return false;
    KillTimer(dialog->m_hWnd, ID_POLL_TIMER);
    HandlerTimer::Install(dialog->m_hWnd, swallow ? dialog.get() : nullptr);
    printf("%s:\n", swallow ? "Serial link alone (the bench empties the ring itself)"
                            : "With the window's own line handling and traffic log");
    Streamer streamer(1);
    testing_support::PumpMessages(500);

    std::vector<double> changeMs;
    int failed = 0;
    const double cpuStart = ProcessCpuSeconds();
    const LONGLONG wallStart = Now();
    for (int i = 0; i < changes; ++i) {
        const LONGLONG start = Now();
        const int next = i % 2 == 0 ? 3 : 1;
        SelectPort(*dialog, next);  // closes the port the controller is streaming on
        changeMs.push_back(Seconds(Now() - start) * 1000);
        streamer.Follow(next);
        if (dialog->m_serial.m_dwThreadId == 0) ++failed;
        testing_support::PumpMessages(kPumpBetweenChangesMs);
    }
    const double wall = Seconds(Now() - wallStart);
    const double cpu = ProcessCpuSeconds() - cpuStart;
    printf(
        "  port change while streaming (%d changes): median %.2f ms, worst %.2f ms, %d without "
        "a worker\n",
        changes, Median(changeMs), *std::max_element(changeMs.begin(), changeMs.end()), failed);
    printf("  CPU during the changes: %.2f s over %.1f s wall (%.0f%% of one core)\n", cpu, wall,
           100 * cpu / wall);
    const auto& handled = HandlerTimer::seconds;
    if (!handled.empty()) {
        printf(
            "  ID_SERIAL_DATA handling while streaming: %zu notifications, median %.2f ms, "
            "worst %.2f ms\n",
            handled.size(), Median(handled) * 1000,
            *std::max_element(handled.begin(), handled.end()) * 1000);
    }
    return true;
}

// CPU of the process over quiet seconds with the window open, first with the port open (the
// worker waiting), then with it closed.
bool Idle(SimClient& sim, int seconds) {
    if (!sim.Ports({1}) || !sim.Auto(1, false)) return false;
    auto dialog = testing_support::OpenRotatorDialog(1);
    if (!dialog) return false;
    KillTimer(dialog->m_hWnd, ID_POLL_TIMER);
    for (bool open : {true, false}) {
        if (!open) dialog->ClosePort();
        testing_support::PumpMessages(300);
        const double cpuStart = ProcessCpuSeconds();
        const LONGLONG wallStart = Now();
        testing_support::PumpMessages(static_cast<DWORD>(seconds) * 1000);
        const double wall = Seconds(Now() - wallStart);
        const double cpu = ProcessCpuSeconds() - cpuStart;
        printf("CPU with no traffic, port %s: %.2f s over %.1f s wall (%.1f%% of one core)\n",
               open ? "open" : "closed", cpu, wall, 100 * cpu / wall);
    }
    return true;
}

bool AnsweredPolls(SimClient& sim, int seconds) {
    if (!sim.Ports({1}) || !sim.Auto(1, true) || !sim.Clear(1)) return false;
    auto dialog = testing_support::OpenRotatorDialog(1);  // poll timer running, as in use
    if (!dialog) return false;
    testing_support::PumpMessages(500);
    const double cpuStart = ProcessCpuSeconds();
    const LONGLONG wallStart = Now();
    testing_support::PumpMessages(static_cast<DWORD>(seconds) * 1000);
    const double wall = Seconds(Now() - wallStart);
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const std::string polls = sim.Received(1);
    printf(
        "CPU while the controller answers polls: %.2f s over %.1f s wall (%.1f%% of one "
        "core); %zu bytes of polls sent\n",
        cpu, wall, 100 * cpu / wall, polls.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int changes = 200;
    int seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--changes") == 0) changes = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--seconds") == 0) seconds = atoi(argv[i + 1]);
    }
    SimClient sim;
    if (!sim.Connected()) {
        fprintf(stderr, "serial_bench: no simulator at KELMA_SIM_CONTROL: %s\n",
                sim.LastError().c_str());
        return 2;
    }
    if (changes < 1 || !PortChanges(sim, changes, true) || !PortChanges(sim, changes, false))
        return 1;
    if (!Idle(sim, kIdleSeconds)) return 1;
    if (seconds < 1 || !AnsweredPolls(sim, seconds)) return 1;
    return 0;
}
