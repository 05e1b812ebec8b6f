// Smoke test of the whole serial path under Wine: simulator control connection, pty COM ports
// behind dosdevices links, the preload's modem-line answers and the overlapped comm-event wait
// the receive worker relies on. Build for i686 and x86_64 and run through wine-run.sh with
// KELMA_SIM set; it prints what it measured and exits non-zero on any failure.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/win/support/sim_client.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) g_failures++;
}

HANDLE OpenCom(int n, DWORD flags) {
    const std::string name = "COM" + std::to_string(n);
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

double Millis(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(f.QuadPart);
}

bool Configure(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    return SetCommState(port, &dcb) != 0;
}

bool WriteAll(HANDLE port, const std::string& text) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD done = 0;
    BOOL ok = WriteFile(port, text.data(), static_cast<DWORD>(text.size()), &done, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(port, &ov, &done, TRUE);
    CloseHandle(ov.hEvent);
    return ok && done == text.size();
}

// Starts an overlapped EV_RXCHAR wait; returns whether it is pending (nothing waiting yet).
bool StartWait(HANDLE port, OVERLAPPED* ov, DWORD* mask) {
    ResetEvent(ov->hEvent);
    if (WaitCommEvent(port, mask, ov)) return false;
    return GetLastError() == ERROR_IO_PENDING;
}

std::string ReadAvailable(HANDLE port, DWORD wanted) {
    std::string out;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD deadline = GetTickCount() + 2000;
    while (out.size() < wanted && GetTickCount() < deadline) {
        char buf[64];
        DWORD got = 0;
        COMSTAT stat{};
        DWORD errors = 0;
        ClearCommError(port, &errors, &stat);
        const DWORD ask = stat.cbInQue < sizeof buf ? stat.cbInQue : sizeof buf;
        if (ask == 0) {
            Sleep(5);
            continue;
        }
        BOOL ok = ReadFile(port, buf, ask, &got, &ov);
        if (!ok && GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(port, &ov, &got, TRUE);
        if (!ok) break;
        out.append(buf, got);
    }
    CloseHandle(ov.hEvent);
    return out;
}

void MeasureWake(SimClient& sim, HANDLE port) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    double worst = 0, total = 0;
    const int kRounds = 20;
    int woke = 0;
    for (int i = 0; i < kRounds; i++) {
        DWORD mask = 0;
        if (!StartWait(port, &ov, &mask)) break;
        Sleep(20);  // the wait is really pending before the byte comes
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        sim.Send(1, "x");
        if (WaitForSingleObject(ov.hEvent, 2000) != WAIT_OBJECT_0) break;
        QueryPerformanceCounter(&after);
        DWORD done = 0;
        GetOverlappedResult(port, &ov, &done, FALSE);
        if (!(mask & EV_RXCHAR)) break;
        ReadAvailable(port, 1);
        const double ms = Millis(before, after);
        total += ms;
        worst = ms > worst ? ms : worst;
        woke++;
    }
    CloseHandle(ov.hEvent);
    Check(woke == kRounds, "overlapped WaitCommEvent(EV_RXCHAR) wakes on every incoming byte");
    if (woke)
        std::printf(
            "     wake after send command: mean %.2f ms, worst %.2f ms over %d rounds "
            "(includes the control round trip)\n",
            total / woke, worst, woke);
}

// Runs this program again with "try": it opens COM1 and exits 0 when that worked.
bool OpenedByAnotherProcess() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self + "\" try";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "try") {
        HANDLE h = OpenCom(1, 0);
        if (h == INVALID_HANDLE_VALUE) return 1;
        CloseHandle(h);
        return 0;
    }
    std::printf("serial smoke test, %d-bit\n", static_cast<int>(sizeof(void*) * 8));
    SimClient sim;
    Check(sim.Connected(), "control connection to the simulator");
    if (!sim.Connected()) {
        std::printf("     %s\n", sim.LastError().c_str());
        return 1;
    }
    Check(sim.Ports({}), "no ports");
    HANDLE none = OpenCom(1, 0);
    Check(none == INVALID_HANDLE_VALUE, "COM1 cannot be opened while no port is plugged");
    if (none != INVALID_HANDLE_VALUE) CloseHandle(none);

    Check(sim.Ports({1, 3}), "ports 1 3");
    HANDLE com2 = OpenCom(2, 0);
    Check(com2 == INVALID_HANDLE_VALUE, "COM2 absent");
    HANDLE com3 = OpenCom(3, 0);
    Check(com3 != INVALID_HANDLE_VALUE, "COM3 opens");
    if (com3 != INVALID_HANDLE_VALUE) CloseHandle(com3);

    HANDLE port = OpenCom(1, FILE_FLAG_OVERLAPPED);
    Check(port != INVALID_HANDLE_VALUE, "COM1 opens overlapped");
    if (port == INVALID_HANDLE_VALUE) return 1;
    // Wine does not make share mode 0 exclusive for devices: report what it does.
    HANDLE second = OpenCom(1, 0);
    std::printf("     second open of COM1 in this process: %s\n",
                second == INVALID_HANDLE_VALUE ? "refused" : "succeeded");
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    std::printf("     open of COM1 by another process: %s\n",
                OpenedByAnotherProcess() ? "succeeded" : "refused");
    Check(sim.Command("hold 1") == "ok", "hold 1");
    HANDLE held = OpenCom(1, 0);
    Check(held == INVALID_HANDLE_VALUE, "COM1 cannot be opened while held");
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    Check(sim.Command("release 1") == "ok", "release 1");
    Check(Configure(port), "GetCommState/SetCommState 9600 8N1");
    Check(SetCommMask(port, EV_RXCHAR) != 0, "SetCommMask(EV_RXCHAR)");

    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    Check(StartWait(port, &ov, &mask), "WaitCommEvent pends while nothing was received");
    Sleep(50);
    Check(WaitForSingleObject(ov.hEvent, 0) == WAIT_TIMEOUT,
          "the wait is still pending after 50 ms");
    Check(WriteAll(port, "A\r\n"), "write the azimuth poll");
    const bool woke = WaitForSingleObject(ov.hEvent, 2000) == WAIT_OBJECT_0;
    DWORD done = 0;
    Check(woke && GetOverlappedResult(port, &ov, &done, FALSE) && (mask & EV_RXCHAR),
          "the report wakes the wait with EV_RXCHAR");
    const std::string report = ReadAvailable(port, 14);
    Check(report == "AZP 000.0 ST\r\n", "the report arrives by ReadFile");
    std::printf("     report: \"%.12s\"\n", report.c_str());
    Check(sim.Received(1) == "A\r\n", "the simulator received exactly A CR LF");
    CloseHandle(ov.hEvent);

    MeasureWake(sim, port);

    sim.Unplug(1);
    char c;
    DWORD got = 0;
    OVERLAPPED rov{};
    rov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BOOL ok = ReadFile(port, &c, 1, &got, &rov);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = WaitForSingleObject(rov.hEvent, 1000) == WAIT_OBJECT_0 &&
             GetOverlappedResult(port, &rov, &got, FALSE);
    std::printf("     read after unplug: ok=%d got=%lu error=%lu\n", ok, got, GetLastError());
    Check(!WriteAll(port, "A\r\n"), "a write after unplug fails");
    CloseHandle(rov.hEvent);
    CloseHandle(port);
    std::printf("%s\n", g_failures ? "FAILED" : "passed");
    return g_failures ? 1 : 0;
}
