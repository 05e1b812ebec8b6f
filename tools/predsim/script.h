// The simulator's script: one command per line, read from standard input or a file by a worker
// thread. Commands that touch the DDE server run on the server's thread; waits and the timing
// of passes run on the worker, so the server keeps answering meanwhile.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "feed/event_log.h"
#include "tools/predsim/scripted_server.h"
#include "tools/predsim/tracking_format.h"

namespace predsim {

class Script {
public:
    // ui: a window of the server's thread; its procedure must call RunOnUiHandler. The program
    // played decides the items that positions and names go to, and their texts.
    Script(FILE* input, HWND ui, ScriptedServer& server, kelmafeed::EventLog& log, Program program);
    // Reads and runs commands until the input ends or "quit".
    void Run();
    // Serves the position as WinOrbit's help documents it instead of "AzEl" (which is then
    // refused): "AzimuthDegrees" and "ElevationDegrees". Call before Run.
    void UseDocumentedItems();

    static constexpr UINT kRunOnUiMessage = WM_APP + 1;
    // For the ui window's procedure: runs the function a worker sent.
    static void RunOnUiHandler(LPARAM function);

private:
    void RunOnUi(const std::function<void()>& action);
    bool Execute(const std::string& line);  // false: stop reading
    bool ExecuteData(const std::string& verb, const std::string& rest);
    bool ExecuteControl(const std::string& verb, const std::string& rest);
    bool ExecuteTimed(const std::string& verb, const std::string& rest);
    void AnswerLate(const std::string& arguments);
    void SetItem(const std::string& item, const kelmafeed::Bytes& data);
    void Publish(const ItemText& update);
    // "azel" and "name" stand for the items of the program played; other words are item names.
    std::string ItemName(const std::string& word) const;
    void SetPosition(const std::string& text);
    std::string PositionText(double azimuth, double elevation) const;
    void Pass(const std::string& arguments);
    void Ramp(const std::string& arguments);
    void WaitForLinks(const std::string& arguments);
    void WaitForNoConversation(DWORD timeoutMs);

    FILE* m_input;
    HWND m_ui;
    ScriptedServer& m_server;
    kelmafeed::EventLog& m_log;
    TrackingFormat m_format;
    bool m_documentedItems = false;
};

}  // namespace predsim
