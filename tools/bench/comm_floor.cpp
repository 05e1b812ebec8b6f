// The least that waiting for received characters costs a program under Wine: a bare overlapped
// WaitCommEvent(EV_RXCHAR) on a COM port, again and again, reading whatever arrives. The peer
// benchmark measures this process's CPU beside the program's. Runs until it is ended.
// Usage: comm_floor.exe [port number, default 1]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Reads what the port holds, so that the next wait is for new characters.
void Drain(HANDLE port, OVERLAPPED& read) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status) || status.cbInQue == 0) return;
    char buffer[256];
    DWORD got = 0;
    const DWORD wanted = status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer;
    if (!ReadFile(port, buffer, wanted, &got, &read) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(port, &read, &got, TRUE);
}

}  // namespace

int main(int argc, char** argv) {
    const int number = argc > 1 ? atoi(argv[1]) : 1;
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "comm_floor: cannot open %s (error %lu)\n", name.c_str(), GetLastError());
        return 1;
    }
    SetCommMask(port, EV_RXCHAR);
    OVERLAPPED wait{}, read{};
    wait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    printf("waiting on %s\n", name.c_str());
    fflush(stdout);
    for (;;) {
        DWORD events = 0, unused = 0;
        if (!WaitCommEvent(port, &events, &wait)) {
            if (GetLastError() != ERROR_IO_PENDING) return 1;
            if (!GetOverlappedResult(port, &wait, &unused, TRUE)) return 1;
        }
        Drain(port, read);
    }
}
