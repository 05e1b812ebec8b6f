// The relay's console: messages on lines of their own, and one status line. On a console the
// status line is rewritten in place under the messages; when the output goes to a file or a
// pipe, it is written as a line of its own each time it changes.
#pragma once

#include <windows.h>

#include <string>

namespace kelmafeed {

class Console {
public:
    Console();
    void Message(const std::string& text);
    void Status(const std::string& line);

private:
    void Write(const std::string& text);
    void EraseStatus();

    HANDLE m_out;
    bool m_interactive;
    std::string m_status;  // as shown
};

// The program's name without its folder and ".exe" ("kelmafeed"), as a tracking program that
// starts drivers looks for it among the window titles.
std::string ProgramName();

}  // namespace kelmafeed
