// kelmafeed: offers the positions of another tracking program (Orbitron's or SatPC32's DDE
// driver feed, any program that publishes the same text, or a rotctld-protocol client), or those
// of our own prediction (--source sky), as the prediction program's DDE service "WinOrbit", so
// that KelmaRotator follows them. With --elements and --station it plans the passes of the
// satellites its source names (feed/relay_plan.h).
//
// The main thread's message loop runs the "WinOrbit" server's conversation windows, the source
// link's DDEML callbacks and a control window whose timers check the source and follow a planned
// pass (every second), advance the sky source (every second of its clock) and redraw the status
// line. The network source serves on a thread of its own and posts to the
// control window (NetSource). Ctrl-C, Ctrl-Break, closing the console and WM_CLOSE to the
// control window end the relay: the window's conversations are ended, the service is withdrawn.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feed/console.h"
#include "feed/dde_server.h"
#include "feed/event_log.h"
#include "feed/net_source.h"
#include "feed/options.h"
#include "feed/relay_plan.h"
#include "feed/relay_state.h"
#include "feed/sky_source.h"
#include "feed/source_link.h"
#include "feed/tracking_text.h"
#include "framework/clock.h"
#include "framework/wine_host.h"

namespace {

constexpr int kExitDdeUnavailable = 1;
constexpr int kExitNetUnavailable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitServiceTaken = 3;
constexpr UINT_PTR kLinkTimer = 1;
constexpr UINT kLinkIntervalMs = 1000;
constexpr UINT_PTR kStatusTimer = 2;
constexpr UINT kStatusIntervalMs = 250;
constexpr UINT_PTR kSkyTimer = 3;
constexpr DWORD kGoodbyeWaitMs = 2000;  // for the window to answer the end of its conversation
constexpr DWORD kCloseWaitMs = 4000;    // Windows ends the process 5 s after a console close
constexpr DWORD kRefusalShownMs = 60000;
constexpr char kControlClass[] = "KelmafeedControl";

HWND g_control = nullptr;
HANDLE g_finished = nullptr;

int64_t SteadyMs() {
    return framework::NowMicroseconds() / 1000;
}

kelmafeed::Bytes TextData(const std::string& text) {
    kelmafeed::Bytes data(text.begin(), text.end());
    data.push_back('\0');  // CF_TEXT carries its terminator within the size
    return data;
}

// Where the relay leaves the antenna: " The antenna stays at az 182 el 36.", or nothing before
// the first position.
std::string HeldPosition(const kelmafeed::RelayState& state) {
    if (!state.LastPosition()) return "";
    return " The antenna stays at az " + std::to_string(state.LastPosition()->azimuth) + " el " +
           std::to_string(state.LastPosition()->elevation) + ".";
}

// What the sources read before the relay starts: the sky source's targets, or what plans a
// relayed source's passes.
struct Prediction {
    std::vector<sky::Target> skyTargets;
    std::optional<kelmafeed::PlanningSetup> planning;
};

class Relay {
public:
    Relay(const kelmafeed::Options& options, FILE* log, Prediction prediction)
        : m_log(log),
          m_server(dde::kWinOrbitService, dde::kWinOrbitTopic, m_log),
          m_link(options.sources, LinkEvents(), framework::RunningOnWine()),
          m_netPort(options.netPort),
          m_netAddresses(options.netAddresses),
          m_skySource(options.skySource),
          m_skyOptions(options.sky),
          m_skyTargets(std::move(prediction.skyTargets)),
          m_planner(std::move(prediction.planning)) {}

    // Exit status: 0 when ended by the operator, else why it refused or stopped.
    int Run();
    void OnTimer(UINT_PTR timer);
    // From the network source.
    void OnNetPosition(rotator::Position position) { OnSourcePosition(position, std::nullopt); }
    void OnNetClients(size_t clients) {
        m_netClients = clients;
        ShowStatus();
    }

private:
    kelmafeed::SourceLink::Events LinkEvents();
    void OnText(std::string_view text);
    void OnSourcePosition(rotator::Position position, const std::optional<std::string>& satellite);
    void OnSkyTick();
    void FollowPlannedPass();
    void Say(const std::vector<std::string>& messages);
    void Publish(const kelmafeed::Publication& publication);
    void StartSource();
    std::string SourceName() const { return m_net ? m_net->Name() : m_link.Name(); }
    bool SourceConnected() const { return m_net ? m_netClients > 0 : m_link.Connected(); }
    void ShowStatus() {
        m_console.Status(m_sky ? m_sky->StatusLine(SteadyMs())
                               : kelmafeed::StatusLine(SourceName(), SourceConnected(), m_state));
    }
    void EndConversations();

    kelmafeed::Console m_console;
    kelmafeed::EventLog m_log;
    kelmafeed::DdeServer m_server;
    kelmafeed::RelayState m_state;
    kelmafeed::SourceLink m_link;
    const std::optional<uint16_t> m_netPort;
    const std::vector<std::string> m_netAddresses;
    std::unique_ptr<kelmafeed::NetSource> m_net;
    size_t m_netClients = 0;  // commanding the network source
    const bool m_skySource;
    const sky::SkyOptions m_skyOptions;
    std::vector<sky::Target> m_skyTargets;      // until the sky source starts
    std::optional<kelmafeed::SkySource> m_sky;  // from the service's registration on
    kelmafeed::RelayPlanner m_planner;
};

kelmafeed::SourceLink::Events Relay::LinkEvents() {
    kelmafeed::SourceLink::Events events;
    events.text = [this](std::string_view text) { OnText(text); };
    events.connected = [this] {
        m_console.Message("Connected to " + m_link.Name() + ".");
        ShowStatus();
    };
    events.lost = [this](const std::string& program) {
        m_planner.Pause();
        const std::string awaited = m_link.Name() == program ? "it to come back" : m_link.Name();
        m_console.Message(program + " went away; waiting for " + awaited + "." +
                          HeldPosition(m_state));
        ShowStatus();
    };
    events.unanswered = [this] {
        m_console.Message(m_link.Name() +
                          " did not answer in time; asking again at the next check.");
    };
    return events;
}

void Relay::OnText(std::string_view text) {
    const bool wasIdle = m_state.NothingTracked();
    const kelmafeed::TrackingReading reading = kelmafeed::ParseTrackingText(text);
    if (reading.kind == kelmafeed::TrackingKind::kPosition) {
        OnSourcePosition({reading.azimuth, reading.elevation}, reading.satellite);
        return;
    }
    Publish(m_state.OnReading(reading));
    if (m_state.NothingTracked() && !wasIdle) {
        m_planner.Pause();
        m_console.Message(m_link.Name() + " tracks nothing." + HeldPosition(m_state));
    }
}

void Relay::OnSourcePosition(rotator::Position position,
                             const std::optional<std::string>& satellite) {
    const kelmafeed::RelayPlanner::Outcome outcome =
        m_planner.OnSourcePosition(SourceName(), satellite, position, sky::UtcNow());
    Say(outcome.messages);
    Publish(outcome.position ? m_state.OnPosition(*outcome.position, satellite)
                             : m_state.OnHeldPosition(satellite));
}

// A planned pass goes on between the source's updates.
void Relay::FollowPlannedPass() {
    const kelmafeed::RelayPlanner::Outcome outcome = m_planner.Advance(sky::UtcNow());
    Say(outcome.messages);
    Publish(m_state.OnPlannedPosition(outcome.position, std::nullopt));
}

void Relay::OnSkyTick() {
    const kelmafeed::SkySource::Tick tick = m_sky->Advance(SteadyMs());
    Say(tick.messages);
    Publish(m_state.OnPlannedPosition(tick.position, tick.satellite));
}

void Relay::Say(const std::vector<std::string>& messages) {
    for (const std::string& message : messages) m_console.Message(message);
}

void Relay::Publish(const kelmafeed::Publication& publication) {
    if (publication.satelliteName) {
        m_console.Message("Satellite: " + *publication.satelliteName);
        m_server.SetItem(dde::kSatelliteNameItem, TextData(*publication.satelliteName));
    }
    if (publication.azel) m_server.SetItem(dde::kAzElItem, TextData(*publication.azel));
}

void Relay::OnTimer(UINT_PTR timer) {
    if (timer == kSkyTimer) OnSkyTick();
    if (timer == kLinkTimer && !m_net && !m_sky) {
        if (m_link.Connected()) {
            m_link.Check();
        } else {
            m_link.Connect();
        }
    }
    if (timer == kLinkTimer) FollowPlannedPass();
    ShowStatus();
}

int Relay::Run() {
    if (!m_link.Ready()) {
        fprintf(stderr, "kelmafeed: the DDE library refused to start\n");
        return kExitDdeUnavailable;
    }
    // Two servers would both feed the window, each with its own positions.
    if (m_link.ServiceAnswers(dde::kWinOrbitService, dde::kWinOrbitTopic)) {
        fprintf(stderr,
                "kelmafeed: a \"WinOrbit\" DDE service is already running (the prediction "
                "program, or another kelmafeed). Close it first: two would both feed the "
                "window.\n");
        return kExitServiceTaken;
    }
    if (m_netPort) {
        m_net = std::make_unique<kelmafeed::NetSource>(m_netAddresses, *m_netPort, g_control);
        if (!m_net->Start()) return kExitNetUnavailable;
    }
    m_server.Register();
    StartSource();
    ShowStatus();
    SetTimer(g_control, kLinkTimer, kLinkIntervalMs, nullptr);
    SetTimer(g_control, kStatusTimer, kStatusIntervalMs, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    KillTimer(g_control, kLinkTimer);
    KillTimer(g_control, kStatusTimer);
    KillTimer(g_control, kSkyTimer);
    EndConversations();
    m_console.Message("Stopped.");
    return static_cast<int>(msg.wParam);  // the network server's status, else 0
}

// The sky clock starts as the service does, so that --at is the moment the window can first hear.
void Relay::StartSource() {
    if (m_skySource) {
        m_sky.emplace(std::move(m_skyTargets), m_skyOptions, SteadyMs());
        m_console.Message("Serving \"WinOrbit\" for KelmaRotator; " + m_sky->Description() + ".");
        OnSkyTick();
        SetTimer(g_control, kSkyTimer, static_cast<UINT>(m_sky->TickMs()), nullptr);
        return;
    }
    const std::string source = m_net ? "rotctld clients on " : "looking for ";
    m_console.Message("Serving \"WinOrbit\" for KelmaRotator; " + source + SourceName() +
                      m_planner.Description() + ".");
    m_link.Connect();
}

// The window hears that its prediction program has gone, as when that program quits.
void Relay::EndConversations() {
    m_server.TerminateAll();
    const DWORD start = GetTickCount();
    MSG msg;
    while (m_server.ConversationCount() > 0 && GetTickCount() - start < kGoodbyeWaitMs) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, kStatusIntervalMs, QS_ALLINPUT);
        }
    }
    m_server.Unregister();
}

Relay* g_relay = nullptr;

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (g_relay != nullptr) g_relay->OnTimer(wParam);
            return 0;
        case WM_CLOSE:
            PostQuitMessage(0);
            return 0;
        case kelmafeed::NetSource::kPositionMessage:
            if (g_relay != nullptr) {
                g_relay->OnNetPosition(
                    {static_cast<int32_t>(wParam), static_cast<int32_t>(lParam)});
            }
            return 0;
        case kelmafeed::NetSource::kClientsMessage:
            if (g_relay != nullptr) g_relay->OnNetClients(wParam);
            return 0;
        case kelmafeed::NetSource::kEndedMessage:
            PostQuitMessage(static_cast<int>(wParam));
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND CreateControlWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kControlClass;
    RegisterClassA(&wc);
    // Message-only: it takes no part in DDE's broadcasts.
    return CreateWindowA(kControlClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                         nullptr);
}

// Started from a tracking program or from Explorer, the relay has a console of its own that
// closes with it: a refusal stays on screen until the operator presses a key (or a minute).
int Refuse(int status) {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) {
        fputs("Press a key to close this window.\n", stderr);
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        FlushConsoleInputBuffer(input);
        WaitForSingleObject(input, kRefusalShownMs);
    }
    return status;
}

void Warn(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) fprintf(stderr, "kelmafeed: %s\n", warning.c_str());
}

// The sky source's targets, or the element file that plans relayed passes; none after saying
// why they cannot be had.
std::optional<Prediction> LoadPrediction(const kelmafeed::Options& options) {
    Prediction prediction;
    const sky::SkyOptions& sky = options.sky;
    if (options.skySource) {
        sky::TargetSetup setup = sky::LoadTargets(sky);
        Warn(setup.warnings);
        if (!setup.error.empty()) {
            Warn({setup.error});
            return std::nullopt;
        }
        prediction.skyTargets = std::move(setup.targets);
    } else if (sky.station) {
        const std::optional<std::string> text = sky::ReadElementFile(sky.elementsPath);
        if (!text) {
            Warn({"cannot read " + sky.elementsPath});
            return std::nullopt;
        }
        kelmafeed::PlanningSetup planning{
            sky.elementsPath,
            predict::ParseElementFile(*text),
            *sky.station,
            {sky::WithElevationMax(sky::kKelmaLimits, sky), sky.leadSeconds, sky.park}};
        Warn(sky::RefusedSets(sky.elementsPath, planning.file));
        prediction.planning = std::move(planning);
    }
    return prediction;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    PostMessageA(g_control, WM_CLOSE, 0, 0);
    // Closing the console ends the process when this returns: let the relay finish first.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        WaitForSingleObject(g_finished, kCloseWaitMs);
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const kelmafeed::Options options =
        kelmafeed::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (options.action) {
        case kelmafeed::Options::Action::kHelp:
            fputs(kelmafeed::kUsage.c_str(), stdout);
            return 0;
        case kelmafeed::Options::Action::kVersion:
            puts("kelmafeed " KELMA_VERSION);
            return 0;
        case kelmafeed::Options::Action::kFail:
            fprintf(stderr, "kelmafeed: %s\n%s", options.error.c_str(), kelmafeed::kUsage.c_str());
            return Refuse(kExitUsage);
        case kelmafeed::Options::Action::kRelay:
            break;
    }
    FILE* log = nullptr;
    if (!options.logPath.empty() && (log = fopen(options.logPath.c_str(), "w")) == nullptr) {
        fprintf(stderr, "kelmafeed: cannot write %s\n", options.logPath.c_str());
        return Refuse(kExitUsage);
    }
    std::optional<Prediction> prediction = LoadPrediction(options);
    if (!prediction) {
        if (log != nullptr) fclose(log);
        return Refuse(kExitUsage);
    }
    // A tracking program that starts its drivers tells a running one by its window's title, the
    // program's name. Without a console this fails, harmlessly.
    SetConsoleTitleA(kelmafeed::ProgramName().c_str());
    g_finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_control = CreateControlWindow();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    int status = 0;
    {
        Relay relay(options, log, std::move(*prediction));
        g_relay = &relay;
        status = relay.Run();
        g_relay = nullptr;
    }
    if (log != nullptr) fclose(log);
    SetEvent(g_finished);
    return status == 0 ? 0 : Refuse(status);
}
