// Latency of the DDE tracking link: from the simulator's post of a new "AzEl" value to the
// operator window's ID_TRACKING_UPDATE handler starting in this program. The window here is a
// stand-in that only takes the time, so the figure is the DDE path itself (the real handler's
// tracking step may pause 100 ms after an azimuth command, which is not DDE latency).
// Usage: dde_bench [updates [seconds-between-updates]]   (defaults 1000, 0.005)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dde/tracking_link.h"
#include "framework/clock.h"
#include "tools/predsim/predsim_process.h"
#include "ui/resource.h"

namespace {

constexpr int kDefaultUpdates = 1000;
constexpr double kDefaultInterval = 0.005;
constexpr DWORD kStartTimeoutMs = 10000;
constexpr char kWindowClass[] = "DdeBenchNotify";
constexpr int64_t kNotReceived = -1;

dde::CTrackingLink* g_link = nullptr;
std::vector<int64_t> g_receivedAt;  // by azimuth, the time its notification arrived

LRESULT CALLBACK NotifyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == ID_TRACKING_UPDATE && g_link != nullptr) {
        const int64_t now = framework::NowMicroseconds();
        const int azimuth = g_link->m_nAzimuth;
        if (azimuth > 0 && azimuth < static_cast<int>(g_receivedAt.size()) &&
            g_receivedAt[azimuth] == kNotReceived) {
            g_receivedAt[azimuth] = now;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool PumpUntil(bool (*done)(void*), void* context, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done(context)) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    return true;
}

bool SimulatorSaid(predsim::SimulatorProcess* sim, const char* prefix) {
    return sim->CountStartingWith(prefix) > 0;
}

// Post time of each "AzEl" update, by azimuth, from the simulator's "post" lines.
std::vector<int64_t> PostTimes(predsim::SimulatorProcess& sim, int updates) {
    std::vector<int64_t> postedAt(updates + 1, kNotReceived);
    for (const predsim::Event& e : sim.EventsStartingWith("post 1 AzEl ")) {
        // "post 1 AzEl <size> <azimuth>|<elevation>"
        const size_t text = e.text.find(' ', sizeof("post 1 AzEl ") - 1);
        const int azimuth = atoi(e.text.c_str() + text + 1);
        if (azimuth > 0 && azimuth <= updates) postedAt[azimuth] = e.micros;
    }
    return postedAt;
}

void PrintFigures(std::vector<int64_t> latencies, int updates) {
    std::sort(latencies.begin(), latencies.end());
    const size_t n = latencies.size();
    if (n == 0) {
        printf("no update arrived\n");
        return;
    }
    const size_t p99 = std::min(n - 1, (n * 99 + 99) / 100 - 1);
    printf("DDE AzEl post -> ID_TRACKING_UPDATE handler, %zu of %d updates measured\n", n, updates);
    printf("  median %lld us\n", static_cast<long long>(latencies[n / 2]));
    printf("  p99    %lld us\n", static_cast<long long>(latencies[p99]));
    printf("  min    %lld us, max %lld us\n", static_cast<long long>(latencies.front()),
           static_cast<long long>(latencies.back()));
}

}  // namespace

int main(int argc, char** argv) {
    const int updates = argc > 1 ? atoi(argv[1]) : kDefaultUpdates;
    const double interval = argc > 2 ? atof(argv[2]) : kDefaultInterval;
    g_receivedAt.assign(updates + 1, kNotReceived);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = NotifyProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    HWND window = CreateWindowA(kWindowClass, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                wc.hInstance, nullptr);

    predsim::SimulatorProcess sim;
    if (!sim.Start()) {
        fprintf(stderr, "cannot start %s\n", predsim::SimulatorProcess::DefaultPath().c_str());
        return 1;
    }
    struct Wait {
        predsim::SimulatorProcess* sim;
        const char* prefix;
    };
    auto waitFor = [&](const char* prefix, DWORD timeoutMs) {
        Wait w{&sim, prefix};
        return PumpUntil(
            [](void* c) {
                auto* w = static_cast<Wait*>(c);
                return SimulatorSaid(w->sim, w->prefix);
            },
            &w, timeoutMs);
    };
    if (!waitFor("ready", kStartTimeoutMs)) return 1;

    dde::CTrackingLink link;
    g_link = &link;
    link.m_hNotifyWnd = window;
    sim.Send("azel 0|45");
    sim.Send("waitlinks 1");
    if (!waitFor("ok azel", kStartTimeoutMs)) return 1;
    link.Connect();
    if (link.m_hConv == nullptr || !waitFor("ok waitlinks", kStartTimeoutMs)) {
        fprintf(stderr, "no conversation with the simulator\n");
        return 1;
    }

    char ramp[64];
    snprintf(ramp, sizeof ramp, "ramp %d %g 45", updates, interval);
    sim.Send(ramp);
    const DWORD budgetMs = static_cast<DWORD>(updates * interval * 1000) + kStartTimeoutMs;
    waitFor("ok ramp", budgetMs);
    PumpUntil([](void*) { return false; }, nullptr, 200);  // the last ones in flight

    const std::vector<int64_t> postedAt = PostTimes(sim, updates);
    std::vector<int64_t> latencies;
    for (int i = 1; i <= updates; ++i) {
        if (postedAt[i] != kNotReceived && g_receivedAt[i] != kNotReceived) {
            latencies.push_back(g_receivedAt[i] - postedAt[i]);
        }
    }
    PrintFigures(latencies, updates);
    g_link = nullptr;
    return latencies.size() == static_cast<size_t>(updates) ? 0 : 1;
}
