// For Windows test and benchmark programs: runs the prediction-server simulator as a separate
// process, feeds its script through a pipe and collects its event lines. The process is always
// ended when the object goes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace predsim {

// One event line of the simulator: "<microseconds> <event> <details>".
struct Event {
    int64_t micros;
    std::string text;  // event and details
};

class SimulatorProcess {
public:
    SimulatorProcess() { InitializeCriticalSection(&m_lock); }
    ~SimulatorProcess() {
        Kill();
        DeleteCriticalSection(&m_lock);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Where predsim.exe is: $KELMA_PREDSIM, else beside the build's tools/predsim folder as
    // seen from a program in <build>/tests/win or <build>/tools/bench.
    static std::string DefaultPath() {
        if (const char* path = getenv("KELMA_PREDSIM")) return path;
        char module[MAX_PATH];
        GetModuleFileNameA(nullptr, module, MAX_PATH);
        std::string dir(module);
        dir.resize(dir.find_last_of("\\/"));
        return dir + "\\..\\..\\tools\\predsim\\predsim.exe";
    }

    bool Start(const std::string& arguments = "", const std::string& path = DefaultPath()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &m_toChild, &inherit, 0)) return false;
        if (!CreatePipe(&m_fromChild, &childOut, &inherit, 0)) return false;
        SetHandleInformation(m_toChild, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_fromChild, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string commandLine = "\"" + path + "\" " + arguments;
        PROCESS_INFORMATION info = {};
        const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                            CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
        CloseHandle(childIn);
        CloseHandle(childOut);
        if (!started) return false;
        m_process = info.hProcess;
        CloseHandle(info.hThread);
        m_reader = CreateThread(nullptr, 0, ReadLines, this, 0, nullptr);
        return true;
    }

    // Sends one script line.
    void Send(const std::string& line) {
        const std::string text = line + "\n";
        DWORD written = 0;
        WriteFile(m_toChild, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    // Ends the simulator at once (TerminateProcess) and waits for it.
    void Kill() {
        if (m_process != nullptr) {
            TerminateProcess(m_process, 1);
            WaitForSingleObject(m_process, INFINITE);
            CloseHandle(m_process);
            m_process = nullptr;
        }
        Close(m_toChild);
        if (m_reader != nullptr) {
            WaitForSingleObject(m_reader, INFINITE);
            CloseHandle(m_reader);
            m_reader = nullptr;
        }
        Close(m_fromChild);
    }

    bool HasExited(DWORD waitMs = 0) const {
        return m_process == nullptr || WaitForSingleObject(m_process, waitMs) == WAIT_OBJECT_0;
    }

    std::vector<Event> Events() {
        EnterCriticalSection(&m_lock);
        std::vector<Event> copy = m_events;
        LeaveCriticalSection(&m_lock);
        return copy;
    }

    // Events whose text begins with the prefix.
    std::vector<Event> EventsStartingWith(const std::string& prefix) {
        std::vector<Event> found;
        for (const Event& e : Events()) {
            if (e.text.compare(0, prefix.size(), prefix) == 0) found.push_back(e);
        }
        return found;
    }

    size_t CountStartingWith(const std::string& prefix) {
        return EventsStartingWith(prefix).size();
    }

private:
    static void Close(HANDLE& handle) {
        if (handle != nullptr) CloseHandle(handle);
        handle = nullptr;
    }

    static DWORD WINAPI ReadLines(LPVOID parameter) {
        auto* self = static_cast<SimulatorProcess*>(parameter);
        std::string pending;
        char buffer[512];
        DWORD got = 0;
        while (ReadFile(self->m_fromChild, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            pending.append(buffer, got);
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                self->AddLine(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        return 0;
    }

    void AddLine(std::string line) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t space = line.find(' ');
        if (space == std::string::npos) return;
        Event e{_strtoi64(line.c_str(), nullptr, 10), line.substr(space + 1)};
        EnterCriticalSection(&m_lock);
        m_events.push_back(e);
        LeaveCriticalSection(&m_lock);
    }

    HANDLE m_process = nullptr;
    HANDLE m_toChild = nullptr;
    HANDLE m_fromChild = nullptr;
    HANDLE m_reader = nullptr;
    CRITICAL_SECTION m_lock;
    std::vector<Event> m_events;
};

}  // namespace predsim
