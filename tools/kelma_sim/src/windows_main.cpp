// kelma_sim.exe COMn: the KELMA controller simulator on a real COM port, for rehearsing a pass on
// one Windows PC (the program on one end of a virtual null-modem pair, the simulator on the other)
// or for checking a cable. The operator types the Linux simulator's port commands on standard
// input, without the port number ("get", "junk 20", "auto off"); each gets one reply line.
//
// Threads: the main thread owns the controller model. It waits for received characters (which
// the port's I/O thread keeps for it, serial/port_thread.h), a queued command line, Ctrl-C, or
// the model's next poll deadline. A second thread only reads standard input and queues whole
// lines, since a console or pipe handle cannot be waited on together with anything else.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "com_line.h"
#include "controller_options.h"
#include "simulated_port.h"

namespace {

using kelma::Words;

constexpr int64_t kMicrosPerSecond = 1000000;

HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(g_stopEvent);
    return TRUE;
}

int64_t NowMicros() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency * kMicrosPerSecond +
           counter.QuadPart % frequency * kMicrosPerSecond / frequency;
}

// Lines of standard input, handed from the reading thread to the main thread.
class CommandQueue {
public:
    CommandQueue() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    HANDLE Event() const { return event_; }

    void Push(std::optional<std::string> line) {  // nullopt: end of input
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
        SetEvent(event_);
    }
    std::deque<std::optional<std::string>> TakeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        ResetEvent(event_);
        return std::exchange(lines_, {});
    }

private:
    HANDLE event_;  // set while lines are queued; lives until the process ends
    std::mutex mutex_;
    std::deque<std::optional<std::string>> lines_;
};

// C stdio rather than iostreams: they would make the program four times bigger.
void ReadStandardInput(CommandQueue* queue) {
    std::string line;
    char piece[256];
    while (std::fgets(piece, sizeof piece, stdin)) {
        line += piece;
        if (line.back() != '\n') continue;  // the rest of a long line follows
        line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        queue->Push(std::exchange(line, {}));
    }
    queue->Push(std::nullopt);
}

struct Options {
    std::string port;
    kelma::ControllerSettings controller;
    uint32_t seed = 1;
};

bool IsComPortName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return false;
    for (size_t i = 0; i < 3; i++)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
    for (size_t i = 3; i < name.size(); i++)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    return name[3] != '0';
}

bool ParseOptions(int argc, char** argv, Options* o) {
    if (argc < 2 || !IsComPortName(argv[1])) return false;
    o->port = argv[1];
    for (int i = 2; i + 1 < argc; i += 2)
        if (!kelma::ParseControllerOption(argv[i], argv[i + 1], &o->controller, &o->seed))
            return false;
    return argc % 2 == 0 && kelma::ValidControllerSettings(o->controller);
}

void Reply(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class Session {
public:
    Session(kelma::ComLine& line, const Options& options)
        : line_(line), port_(options.controller, NowMicros()), random_(options.seed) {}
    int Run(CommandQueue& queue);

private:
    bool RunQueued(CommandQueue& queue);  // false: the operator is done
    bool RunCommand(const std::string& text);
    DWORD TimeoutMillis() const;

    kelma::ComLine& line_;
    kelma::SimulatedPort port_;
    std::mt19937 random_;
};

bool Session::RunCommand(const std::string& text) {
    const Words words = kelma::SplitWords(text);
    if (words.empty()) return true;
    const std::string& name = words[0];
    if (name == "quit") {
        Reply(kelma::Ok());
        return false;
    }
    if (name == "help") {
        Reply(kelma::Ok(std::string(kelma::PortCommandNames()) + " help quit"));
        return true;
    }
    const Words params(words.begin() + 1, words.end());
    Reply(port_.Run(name, params, NowMicros(), &line_, random_));
    return true;
}

bool Session::RunQueued(CommandQueue& queue) {
    for (const auto& line : queue.TakeAll())
        if (!line || !RunCommand(*line)) return false;
    return true;
}

DWORD Session::TimeoutMillis() const {
    const auto deadline = port_.Deadline();
    if (!deadline) return INFINITE;
    const int64_t micros = *deadline - NowMicros();
    return micros <= 0 ? 0 : static_cast<DWORD>((micros + 999) / 1000);
}

int Session::Run(CommandQueue& queue) {
    for (;;) {
        // Taken before waiting: the event stays set for bytes that come after.
        port_.Receive(line_.ReadAvailable(), NowMicros(), &line_);
        const HANDLE handles[] = {g_stopEvent, queue.Event(), line_.ReceiveEvent()};
        const DWORD woken = WaitForMultipleObjects(3, handles, FALSE, TimeoutMillis());
        if (woken == WAIT_OBJECT_0) return 0;
        if (woken == WAIT_OBJECT_0 + 1 && !RunQueued(queue)) return 0;
        port_.Tick(NowMicros(), &line_);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: kelma_sim COMn %s\n", kelma::kControllerOptionsUsage);
        return 2;
    }
    std::string error;
    auto line = kelma::ComLine::Open(options.port, &error);
    if (!line) {
        std::fprintf(stderr, "kelma_sim: %s\n", error.c_str());
        return 1;
    }
    g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Reply("kelma_sim: KELMA controller ready on " + options.port +
          " (9600 8N1). Commands: help; quit or Ctrl-C ends.");
    CommandQueue queue;
    // Left running at the end: it may be blocked reading the console, and the process ends it.
    std::thread(ReadStandardInput, &queue).detach();
    Session session(*line, options);
    return session.Run(queue);
}
