// What one traffic-log append costs the UI thread under Wine, and how much of it is Wine's:
//   1. the program's AppendLog in the real operator window, with a poll's traffic (the poll,
//      the report line, its line end);
//   2. a bare window holding only an edit control of the log pane's style, given the same update
//      (replace the text, put the caret at the end, scroll to it), drawing at each call or held
//      off until the three are done.
// Each append is timed alone and together with the painting it leads to (UpdateWindow).
// Usage: log_bench.exe [--appends N]   (needs the controller simulator: KELMA_SIM_CONTROL)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/win/support/dialog_support.h"
#include "tests/win/support/sim_client.h"
#include "ui/log_text.h"
#include "ui/rotator_dlg.h"

namespace {

const char* const kPollTraffic[] = {"A\r\n", "AZP 123.0 ST", "\r\n"};

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

// Times append(text) over the poll traffic, with and without the paint of the window that
// holds the pane, and prints median, p99 and worst of each.
void Measure(const char* label, HWND window, int appends,
             const std::function<void(const char*)>& append) {
    std::vector<double> call, withPaint;
    // Markers for Wine's traces (WINEDEBUG=+server,+debugstr counts the requests in between).
    OutputDebugStringA((std::string("begin: ") + label).c_str());
    for (int i = 0; i < appends; ++i) {
        const char* text = kPollTraffic[i % 3];
        const LONGLONG start = Now();
        append(text);
        const LONGLONG called = Now();
        UpdateWindow(window);
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        const LONGLONG painted = Now();
        call.push_back(Milliseconds(called - start));
        withPaint.push_back(Milliseconds(painted - start));
        testing_support::PumpMessages(0);
    }
    OutputDebugStringA((std::string("end: ") + label).c_str());
    printf("%s, %d appends:\n", label, appends);
    printf("  the call:           median %.3f ms, p99 %.3f ms, worst %.3f ms\n",
           Percentile(call, 0.5), Percentile(call, 0.99), Percentile(call, 1.0));
    printf("  call and its paint: median %.3f ms, p99 %.3f ms, worst %.3f ms\n",
           Percentile(withPaint, 0.5), Percentile(withPaint, 0.99), Percentile(withPaint, 1.0));
}

bool ProgramPane(SimClient& sim, int appends) {
    if (!sim.Ports({1}) || !sim.Auto(1, false)) return false;
    auto dialog = testing_support::OpenRotatorDialog(1);
    if (!dialog) return false;
    KillTimer(dialog->m_hWnd, ID_POLL_TIMER);  // no traffic but the bench's own
    Measure("The program's AppendLog in the operator window", dialog->m_hWnd, appends,
            [&](const char* text) { dialog->AppendLog(text); });
    return true;
}

// The edit-control calls alone, drawing at each call or held off until all are made.
void BarePane(int appends, bool holdDrawing) {
    HWND window = CreateWindowExA(0, "STATIC", "bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                  200, nullptr, nullptr, nullptr, nullptr);
    HWND pane = CreateWindowExA(
        0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
        10, 10, 222, 73, window, nullptr, nullptr, nullptr);
    std::string text;
    Measure(holdDrawing ? "Wine alone, drawing held off during the update (bare window)"
                        : "Wine alone, drawing at each call (bare window)",
            window, appends, [&](const char* appended) {
                text = ui::ComposeLogText(text, appended);
                if (holdDrawing) SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
                SetWindowTextA(pane, text.c_str());
                SendMessageA(pane, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
                SendMessageA(pane, EM_SCROLLCARET, 0, 0);
                if (!holdDrawing) return;
                SendMessageA(pane, WM_SETREDRAW, TRUE, 0);
                RedrawWindow(pane, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
            });
    DestroyWindow(window);
}

}  // namespace

int main(int argc, char** argv) {
    int appends = 600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--appends") == 0) appends = atoi(argv[i + 1]);
    }
    if (appends < 3) return 2;
    SimClient sim;
    if (!sim.Connected()) {
        fprintf(stderr, "log_bench: no simulator at KELMA_SIM_CONTROL: %s\n",
                sim.LastError().c_str());
        return 2;
    }
    if (!ProgramPane(sim, appends)) return 1;
    BarePane(appends, false);
    BarePane(appends, true);
    return 0;
}
