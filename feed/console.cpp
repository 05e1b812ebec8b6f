#include "feed/console.h"

#include <cstdio>

namespace kelmafeed {

Console::Console() : m_out(GetStdHandle(STD_OUTPUT_HANDLE)) {
    DWORD mode = 0;
    m_interactive = GetConsoleMode(m_out, &mode) != 0;
}

void Console::Write(const std::string& text) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

void Console::EraseStatus() {
    if (m_interactive && !m_status.empty()) Write("\r" + std::string(m_status.size(), ' ') + "\r");
}

void Console::Message(const std::string& text) {
    EraseStatus();
    Write(text + "\n");
    if (m_interactive) Write(m_status);
}

void Console::Status(const std::string& line) {
    std::string shown = line;
    CONSOLE_SCREEN_BUFFER_INFO info;
    // A line as wide as the console would wrap and could no longer be rewritten in place.
    if (m_interactive && GetConsoleScreenBufferInfo(m_out, &info) && info.dwSize.X > 1) {
        shown = shown.substr(0, static_cast<size_t>(info.dwSize.X) - 1);
    }
    if (shown == m_status) return;
    if (m_interactive) {
        EraseStatus();
        Write(shown);
    } else {
        Write(shown + "\n");
    }
    m_status = shown;
}

std::string ProgramName() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name(path);
    name = name.substr(name.find_last_of("\\/") + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace kelmafeed
