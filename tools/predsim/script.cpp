#include "tools/predsim/script.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "dde/winorbit.h"
#include "framework/clock.h"

namespace predsim {

using kelmafeed::Bytes;

namespace {

constexpr size_t kLineMax = 4096;
constexpr double kPi = 3.14159265358979323846;
constexpr double kFullCircle = 360.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr DWORD kPollMs = 5;
constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kTerminateWaitMs = 2000;

// A pass as a prediction program shows it: rising below the horizon, culminating, setting.
struct PassShape {
    double secondsPerUpdate = 1.0;
    int updates = 600;
    double maxElevation = 60.0;
    double azimuthStart = 150.0;
    double azimuthEnd = 30.0;
    double horizonElevation = -6.0;  // where the pass starts and ends
};

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Splits off the first word; rest gets what follows its single separating space.
std::string FirstWord(const std::string& text, std::string& rest) {
    const size_t space = text.find(' ');
    if (space == std::string::npos) {
        rest.clear();
        return text;
    }
    rest = text.substr(space + 1);
    return text.substr(0, space);
}

Bytes TextWithNul(const std::string& text) {
    Bytes data(text.begin(), text.end());
    data.push_back('\0');
    return data;
}

// Exactly size bytes: the text, padded with NULs or cut short (and then without a NUL).
Bytes SizedText(const std::string& text, size_t size) {
    Bytes data(size, '\0');
    std::memcpy(data.data(), text.data(), text.size() < size ? text.size() : size);
    return data;
}

Bytes Junk(size_t size, unsigned seed) {
    constexpr unsigned kMultiplier = 1103515245u;
    constexpr unsigned kIncrement = 12345u;
    constexpr unsigned kByteShift = 16;
    Bytes data(size);
    unsigned state = seed;
    for (char& c : data) {
        state = state * kMultiplier + kIncrement;
        c = static_cast<char>(state >> kByteShift);
    }
    return data;
}

void SleepUntil(int64_t dueMicroseconds) {
    const int64_t left = dueMicroseconds - framework::NowMicroseconds();
    if (left > 0) Sleep(static_cast<DWORD>(left / 1000));
}

}  // namespace

Script::Script(FILE* input, HWND ui, ScriptedServer& server, kelmafeed::EventLog& log,
               Program program)
    : m_input(input), m_ui(ui), m_server(server), m_log(log), m_format(program) {}

void Script::UseDocumentedItems() {
    m_documentedItems = true;
    m_server.RefuseItem(m_format.Names().positionItem);
}

void Script::RunOnUiHandler(LPARAM function) {
    (*reinterpret_cast<const std::function<void()>*>(function))();
}

void Script::RunOnUi(const std::function<void()>& action) {
    SendMessageA(m_ui, kRunOnUiMessage, 0, reinterpret_cast<LPARAM>(&action));
}

void Script::Run() {
    char buffer[kLineMax];
    while (fgets(buffer, sizeof buffer, m_input) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        // Leading blanks go, but the text after the verb is kept as written.
        const std::string command = line.substr(line.find(trimmed[0]));
        if (!Execute(command)) return;
        m_log.Line("ok %s", Trim(command).c_str());
    }
    // The end of the script ends the simulator as "quit" does.
    Execute("quit");
}

bool Script::Execute(const std::string& line) {
    std::string rest;
    const std::string verb = FirstWord(line, rest);
    if (ExecuteData(verb, rest) || ExecuteTimed(verb, rest)) return true;
    return ExecuteControl(verb, rest);
}

void Script::SetItem(const std::string& item, const Bytes& data) {
    RunOnUi([&] { m_server.SetItem(item, data); });
}

void Script::Publish(const ItemText& update) {
    SetItem(update.item, TextWithNul(update.text));
}

std::string Script::ItemName(const std::string& word) const {
    if (word == "azel") return m_format.Names().positionItem;
    if (word == "name") return m_format.Names().nameItem;
    return word;
}

// "az|el" as written: the "AzEl" text, or each non-empty part as its own degrees item (so
// "130" or "130|" changes the azimuth alone, "|40" the elevation alone).
void Script::SetPosition(const std::string& text) {
    if (!m_documentedItems) {
        Publish(m_format.Position(text));
        return;
    }
    const size_t bar = text.find('|');
    const std::string azimuth = text.substr(0, bar);
    const std::string elevation = bar == std::string::npos ? "" : text.substr(bar + 1);
    if (!azimuth.empty()) SetItem(dde::kAzimuthDegreesItem, TextWithNul(azimuth));
    if (!elevation.empty()) SetItem(dde::kElevationDegreesItem, TextWithNul(elevation));
}

// Tenths of a degree for "AzEl"; the documented items carry the nearest whole degree, the
// azimuth within 0 to 359.
std::string Script::PositionText(double azimuth, double elevation) const {
    char text[64];
    if (m_documentedItems) {
        const long wholeCircle = static_cast<long>(kFullCircle);
        snprintf(text, sizeof text, "%ld|%ld", std::lround(azimuth) % wholeCircle,
                 std::lround(elevation));
    } else {
        snprintf(text, sizeof text, "%.1f|%.1f", azimuth, elevation);
    }
    return text;
}

bool Script::ExecuteData(const std::string& verb, const std::string& rest) {
    std::string text;
    const std::string word = FirstWord(rest, text);
    if (verb == "azel") {
        SetPosition(rest);
    } else if (verb == "name") {
        if (const std::optional<ItemText> update = m_format.Name(rest)) Publish(*update);
    } else if (verb == "untracked") {
        if (const std::optional<ItemText> update = m_format.NothingTracked()) {
            Publish(*update);
        } else {
            m_log.Line("error untracked: %s has no such text", m_format.Names().service);
        }
    } else if (verb == "set") {
        SetItem(ItemName(word), TextWithNul(text));
    } else if (verb == "nonul") {
        SetItem(ItemName(word), Bytes(text.begin(), text.end()));
    } else if (verb == "sized" || verb == "junk") {
        std::string tail;
        const size_t size = strtoul(FirstWord(text, tail).c_str(), nullptr, 10);
        const Bytes data = verb == "sized" ? SizedText(tail, size)
                                           : Junk(size, strtoul(tail.c_str(), nullptr, 10));
        SetItem(ItemName(word), data);
    } else {
        return false;
    }
    return true;
}

bool Script::ExecuteTimed(const std::string& verb, const std::string& rest) {
    if (verb == "wait") {
        Sleep(strtoul(rest.c_str(), nullptr, 10));
    } else if (verb == "pass") {
        Pass(rest);
    } else if (verb == "ramp") {
        Ramp(rest);
    } else if (verb == "waitlinks") {
        WaitForLinks(rest);
    } else {
        return false;
    }
    return true;
}

bool Script::ExecuteControl(const std::string& verb, const std::string& rest) {
    if (verb == "register") {
        RunOnUi([&] { m_server.Register(); });
    } else if (verb == "unregister") {
        RunOnUi([&] { m_server.Unregister(); });
    } else if (verb == "terminate") {
        RunOnUi([&] { m_server.TerminateAll(); });
        WaitForNoConversation(kTerminateWaitMs);
    } else if (verb == "refuse") {
        RunOnUi([&] { m_server.RefuseRequests(rest == "on"); });
    } else if (verb == "mute") {
        bool done = false;
        RunOnUi([&] { done = m_server.Mute(rest == "on"); });
        if (!done) m_log.Line("error mute: a DDE-library server answers every transaction");
    } else if (verb == "slow") {
        AnswerLate(rest);
    } else if (verb == "echo") {
        m_log.Line("echo %s", rest.c_str());
    } else if (verb == "crash") {
        m_log.Line("crash");
        TerminateProcess(GetCurrentProcess(), 1);  // no terminate messages, no goodbye
    } else if (verb == "quit") {
        RunOnUi([&] { m_server.TerminateAll(); });
        WaitForNoConversation(kTerminateWaitMs);
        RunOnUi([&] { m_server.Unregister(); });
        m_log.Line("quit");
        return false;
    } else {
        m_log.Line("error unknown command: %s", verb.c_str());
    }
    return true;
}

// "request|advise <ms>": the next request or advise start is answered that late.
void Script::AnswerLate(const std::string& arguments) {
    std::string delay;
    const std::string kind = FirstWord(arguments, delay);
    const DWORD delayMs = strtoul(delay.c_str(), nullptr, 10);
    if (kind != "request" && kind != "advise") {
        m_log.Line("error slow: request or advise, not \"%s\"", kind.c_str());
        return;
    }
    const Transaction which = kind == "request" ? Transaction::kRequest : Transaction::kAdviseStart;
    bool done = false;
    RunOnUi([&] { done = m_server.AnswerLate(which, delayMs); });
    if (!done) m_log.Line("error slow: only a DDE-library server (--ddeml) answers late");
}

void Script::Pass(const std::string& arguments) {
    PassShape shape;
    std::istringstream in(arguments);
    in >> shape.secondsPerUpdate >> shape.updates >> shape.maxElevation >> shape.azimuthStart >>
        shape.azimuthEnd;
    if (shape.updates < 2) shape.updates = 2;
    const int64_t start = framework::NowMicroseconds();
    for (int i = 0; i < shape.updates; ++i) {
        const double t = static_cast<double>(i) / (shape.updates - 1);
        double azimuth = shape.azimuthStart + (shape.azimuthEnd - shape.azimuthStart) * t;
        azimuth = std::fmod(std::fmod(azimuth, kFullCircle) + kFullCircle, kFullCircle);
        const double elevation = shape.horizonElevation +
                                 (shape.maxElevation - shape.horizonElevation) * std::sin(kPi * t);
        const std::string text = PositionText(azimuth, elevation);
        SleepUntil(start + static_cast<int64_t>(i * shape.secondsPerUpdate * 1e6));
        SetPosition(text);
    }
}

void Script::Ramp(const std::string& arguments) {
    int count = 0;
    double secondsPerUpdate = 0.01;
    int elevation = 45;
    std::istringstream in(arguments);
    in >> count >> secondsPerUpdate >> elevation;
    const int64_t start = framework::NowMicroseconds();
    for (int i = 1; i <= count; ++i) {
        SleepUntil(start + static_cast<int64_t>((i - 1) * secondsPerUpdate * 1e6));
        SetPosition(std::to_string(i) + "|" + std::to_string(elevation));
    }
}

void Script::WaitForLinks(const std::string& arguments) {
    int wanted = 1;
    unsigned timeoutMs = kDefaultWaitMs;
    std::istringstream in(arguments);
    in >> wanted >> timeoutMs;
    const DWORD start = GetTickCount();
    // A client of the documented items starts its loop on the elevation last.
    const char* item =
        m_documentedItems ? dde::kElevationDegreesItem : m_format.Names().positionItem;
    int count = 0;
    for (;;) {
        RunOnUi([&] { count = m_server.AdviseCount(item); });
        if (count >= wanted) return;
        if (GetTickCount() - start >= timeoutMs) break;
        Sleep(kPollMs);
    }
    m_log.Line("error waitlinks: %d advise loops on %s after %u ms", count, item, timeoutMs);
}

void Script::WaitForNoConversation(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    int count = 0;
    do {
        RunOnUi([&] { count = m_server.ConversationCount(); });
        if (count == 0) return;
        Sleep(kPollMs);
    } while (GetTickCount() - start < timeoutMs);
    // Unanswered: drop what is left.
    RunOnUi([&] { m_server.TerminateAll(); });
}

}  // namespace predsim
