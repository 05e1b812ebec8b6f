// kelmatrack: follows satellites, the Sun or the Moon with any rotctld-protocol server, each pass
// planned so that the antenna never crosses the azimuth stop (sky/tracker.h, plan/plan.h).
//
// One thread. Its loop waits, never longer than one second of the sky clock, on the server's
// socket and the stop request (Ctrl-C, SIGTERM, console close); then it moves the tracker to
// the sky clock's time, hands a changed position to the rotator link and sends what the link
// has to send. A server that goes away, refuses the connection or leaves an answer overdue is
// connected to again every kReconnectMs; the passes go on meanwhile.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kelmarotd/platform.h"
#include "kelmarotd/rotctl_text.h"
#include "kelmatrack/options.h"
#include "kelmatrack/rotator_link.h"
#include "sky/front.h"

namespace {

namespace platform = kelmarotd::platform;
using predict::JulianDate;

constexpr int kExitSetup = 1;
constexpr int kExitUsage = 2;
constexpr int64_t kReconnectMs = 2000;
constexpr int64_t kLongestWaitMs = 1000;
constexpr int64_t kShortestWaitMs = 10;
constexpr int64_t kStatusEveryMs = 10000;
constexpr double kPlanHours = 24;
constexpr size_t kReceiveChunk = 512;

void Say(JulianDate at, const std::string& text) {
    puts(sky::Stamped(at, text).c_str());
    fflush(stdout);
}

std::string Degrees(double value) {
    char text[32];
    snprintf(text, sizeof(text), "%g", value);
    return text;
}

std::string LimitsText(const plan::RotatorLimits& l) {
    const double overlap = l.max_azimuth_deg - l.min_azimuth_deg - 360;
    return "az " + Degrees(l.min_azimuth_deg) + ".." + Degrees(l.max_azimuth_deg) + ", el " +
           Degrees(l.min_elevation_deg) + ".." + Degrees(l.max_elevation_deg) +
           (l.max_elevation_deg >= 180 ? ": over the top" : ": not over the top") +
           (overlap > 0 ? ", " + Degrees(overlap) + " deg of overlap" : ", no overlap");
}

// The targets, or none after saying why.
std::optional<std::vector<sky::Target>> LoadTargets(const kelmatrack::Options& options) {
    sky::TargetSetup setup = sky::LoadTargets(options.sky);
    for (const std::string& warning : setup.warnings)
        fprintf(stderr, "kelmatrack: %s\n", warning.c_str());
    if (!setup.error.empty()) {
        fprintf(stderr, "kelmatrack: %s\n", setup.error.c_str());
        return std::nullopt;
    }
    return std::move(setup.targets);
}

// The connection to the server: connecting, then the link's conversation.
class Connection {
public:
    // What one wait brought.
    struct News {
        bool connected = false;
        std::vector<kelmatrack::RotatorLink::Outcome> outcomes;
        std::string lost;  // why the connection ended; said once an outage
    };

    explicit Connection(const kelmatrack::Options& options) : options_(options) {}
    ~Connection() { Close(); }

    const kelmatrack::RotatorLink& Link() const { return link_; }

    // The position when it goes out at once; otherwise the link sends the latest when the server
    // has answered (News::outcomes).
    std::optional<rotator::Position> Command(const rotator::Position& p, int64_t nowMs) {
        return link_.Command(p, nowMs);
    }

    // The socket to wait for, if any; connects first when the retry is due.
    std::optional<platform::Watch> Prepare(int64_t nowMs, News* news) {
        if (socket_ == platform::kNoHandle && nowMs >= retryAtMs_) Connect(nowMs, news);
        if (socket_ == platform::kNoHandle) return std::nullopt;
        outbox_ += link_.Take();
        return platform::Watch{socket_, !connecting_, connecting_ || !outbox_.empty()};
    }

    // When the wait should end at the latest for the connection's sake.
    int64_t WakeAtMs() const { return socket_ == platform::kNoHandle ? retryAtMs_ : waitUntilMs_; }

    void Serve(const platform::Watch& watch, int64_t nowMs, News* news) {
        if (connecting_) {
            if (watch.writable) {
                Connected(nowMs, news);
            } else if (nowMs >= waitUntilMs_) {
                Lose("no connection within " + std::to_string(kelmatrack::kAnswerWaitMs / 1000) +
                         " s",
                     nowMs, news);
            }
            return;
        }
        if (watch.readable) Receive(nowMs, news);
        if (socket_ != platform::kNoHandle && watch.writable) SendSome(nowMs, news);
        if (socket_ == platform::kNoHandle) return;
        if (auto late = link_.CheckTimeout(nowMs)) Lose(*late, nowMs, news);
        waitUntilMs_ = nowMs + kelmatrack::kAnswerWaitMs;
    }

private:
    void Connect(int64_t nowMs, News* news) {
        std::string error;
        socket_ = platform::StartConnect(options_.host, options_.port, &error);
        if (socket_ == platform::kNoHandle) return Lose(error, nowMs, news);
        connecting_ = true;
        waitUntilMs_ = nowMs + kelmatrack::kAnswerWaitMs;
    }

    void Connected(int64_t nowMs, News* news) {
        const std::string problem = platform::ConnectProblem(socket_);
        if (!problem.empty()) return Lose(problem, nowMs, news);
        connecting_ = false;
        reader_ = kelmarotd::LineReader();
        outbox_.clear();
        link_.Start(nowMs);
        outage_ = false;
        news->connected = true;
    }

    void Receive(int64_t nowMs, News* news) {
        char buffer[kReceiveChunk];
        const long n = platform::Receive(socket_, buffer, sizeof(buffer));
        if (n == platform::kWouldBlock) return;
        if (n <= 0) return Lose("the server closed the connection", nowMs, news);
        std::string_view bytes(buffer, static_cast<size_t>(n));
        while (!bytes.empty()) {
            bytes.remove_prefix(reader_.Feed(bytes));
            const auto line = reader_.TakeLine();
            if (!line) continue;
            if (line->overlong) return Lose("it sent an overlong line", nowMs, news);
            news->outcomes.push_back(link_.OnLine(line->text, nowMs));
            const std::string failure = news->outcomes.back().failure;
            if (!failure.empty()) return Lose(failure, nowMs, news);
        }
    }

    void SendSome(int64_t nowMs, News* news) {
        const long n = platform::Send(socket_, outbox_.data(), outbox_.size());
        if (n == platform::kFailed) return Lose("sending failed", nowMs, news);
        if (n > 0) outbox_.erase(0, static_cast<size_t>(n));
    }

    void Lose(const std::string& why, int64_t nowMs, News* news) {
        Close();
        connecting_ = false;
        retryAtMs_ = nowMs + kReconnectMs;
        if (!outage_) news->lost = why;
        outage_ = true;
    }

    void Close() {
        if (socket_ != platform::kNoHandle) platform::CloseSocket(socket_);
        socket_ = platform::kNoHandle;
    }

    const kelmatrack::Options& options_;
    kelmatrack::RotatorLink link_;
    kelmarotd::LineReader reader_;
    platform::Handle socket_ = platform::kNoHandle;
    bool connecting_ = false;
    int64_t waitUntilMs_ = 0;  // the connection made, or the next answer checked, by then
    int64_t retryAtMs_ = 0;
    std::string outbox_;
    bool outage_ = false;  // lost and not yet connected again: say nothing more
};

class Session {
public:
    Session(const kelmatrack::Options& options, std::vector<sky::Target> targets)
        : options_(options),
          targets_(std::move(targets)),
          clock_(options.sky.at ? *options.sky.at : sky::UtcNow(), options.sky.speed,
                 platform::NowMs()),
          connection_(options) {}

    int Run() {
        const std::string where = options_.host + ":" + std::to_string(options_.port);
        Say(SkyNow(), "Rotator server " + where + "; sky clock at " + Degrees(options_.sky.speed) +
                          " times real time");
        while (!platform::StopRequested()) {
            Connection::News news;
            const int64_t nowMs = platform::NowMs();
            std::vector<platform::Watch> watches;
            if (auto watch = connection_.Prepare(nowMs, &news)) watches.push_back(*watch);
            Report(news, where);
            platform::Wait(&watches, WaitMs(nowMs));
            Connection::News after;
            if (!watches.empty()) connection_.Serve(watches[0], platform::NowMs(), &after);
            Report(after, where);
            Follow(platform::NowMs());
        }
        Say(SkyNow(), "Stopped");
        return 0;
    }

private:
    JulianDate SkyNow() const { return clock_.Now(platform::NowMs()); }

    // Until the next second of the sky clock, or what the connection waits for.
    int WaitMs(int64_t nowMs) const {
        const int64_t step = std::clamp(static_cast<int64_t>(1000 / clock_.Speed()),
                                        kShortestWaitMs, kLongestWaitMs);
        const int64_t until = std::min(nowMs + step, connection_.WakeAtMs());
        return static_cast<int>(std::max<int64_t>(until - nowMs, 0));
    }

    void Report(const Connection::News& news, const std::string& where) {
        if (news.connected) Say(SkyNow(), "Connected to " + where);
        if (!news.lost.empty()) {
            Say(SkyNow(), "No rotator at " + where + ": " + news.lost + "; trying again every " +
                              std::to_string(kReconnectMs / 1000) + " s");
            commanded_.reset();  // the next connection gets the position again
        }
        for (const auto& outcome : news.outcomes) {
            if (outcome.limitsLearned) LimitsLearned();
            if (outcome.set && options_.verbose)
                Say(SkyNow(), "Rotator took az " + std::to_string(outcome.set->azimuth) + " el " +
                                  std::to_string(outcome.set->elevation));
            if (outcome.sent) SaySent(SkyNow(), *outcome.sent);
            if (!outcome.refused.empty())
                Say(SkyNow(), "The server refused the position: " + outcome.refused);
        }
    }

    void LimitsLearned() {
        const plan::RotatorLimits limits =
            sky::WithElevationMax(connection_.Link().Limits(), options_.sky);
        Say(SkyNow(), "Rotator limits " + LimitsText(limits));
        if (tracker_) {
            tracker_->SetLimits(limits);
        } else {
            tracker_.emplace(targets_, sky::TrackerSettings{limits, options_.sky.leadSeconds,
                                                            options_.sky.park});
        }
    }

    void Follow(int64_t nowMs) {
        if (!tracker_) return;
        const JulianDate now = clock_.Now(nowMs);
        for (const std::string& event : tracker_->Advance(now)) Say(now, event);
        const auto& command = tracker_->Command();
        if (command && (!commanded_ || *commanded_ != *command)) {
            if (const auto sent = connection_.Command(*command, nowMs)) SaySent(now, *sent);
            commanded_ = command;
        }
        if (nowMs >= statusAtMs_) {
            Say(now, sky::StatusLine(tracker_->CurrentStatus()));
            statusAtMs_ = nowMs + kStatusEveryMs;
        }
    }

    // Only what goes out: a position commanded while the server has not answered the one before
    // may be overtaken by the next.
    void SaySent(JulianDate at, const rotator::Position& p) {
        if (options_.verbose)
            Say(at, "P " + std::to_string(p.azimuth) + " " + std::to_string(p.elevation));
    }

    const kelmatrack::Options& options_;
    std::vector<sky::Target> targets_;
    sky::SkyClock clock_;
    Connection connection_;
    std::optional<sky::Tracker> tracker_;
    std::optional<rotator::Position> commanded_;
    int64_t statusAtMs_ = 0;
};

// The server's limits for --plan, within a bounded wait; none after saying why.
std::optional<plan::RotatorLimits> AskLimits(const kelmatrack::Options& options) {
    Connection connection(options);
    const int64_t deadline = platform::NowMs() + 2 * kelmatrack::kAnswerWaitMs;
    while (platform::NowMs() < deadline && !platform::StopRequested()) {
        Connection::News news;
        std::vector<platform::Watch> watches;
        if (auto watch = connection.Prepare(platform::NowMs(), &news)) watches.push_back(*watch);
        if (!news.lost.empty()) break;
        platform::Wait(&watches, static_cast<int>(kLongestWaitMs));
        if (!watches.empty()) connection.Serve(watches[0], platform::NowMs(), &news);
        if (!news.lost.empty()) {
            fprintf(stderr, "kelmatrack: %s:%u: %s\n", options.host.c_str(), options.port,
                    news.lost.c_str());
            return std::nullopt;
        }
        for (const auto& outcome : news.outcomes)
            if (outcome.limitsLearned) return connection.Link().Limits();
    }
    fprintf(stderr, "kelmatrack: no limits from %s:%u\n", options.host.c_str(), options.port);
    return std::nullopt;
}

int PrintPlan(const kelmatrack::Options& options, const std::vector<sky::Target>& targets) {
    plan::RotatorLimits limits = sky::kKelmaLimits;
    if (!options.host.empty()) {
        const auto asked = AskLimits(options);
        if (!asked) return kExitSetup;
        limits = *asked;
    }
    limits = sky::WithElevationMax(limits, options.sky);
    const JulianDate from = options.sky.at ? *options.sky.at : sky::UtcNow();
    const JulianDate to = predict::AddSeconds(from, kPlanHours * 3600);
    const double antenna = options.sky.park ? options.sky.park->azimuth_deg
                                            : (limits.min_azimuth_deg + limits.max_azimuth_deg) / 2;
    std::vector<std::string> problems;
    const std::vector<sky::PlannedPass> passes =
        sky::PlanPasses(targets, limits, from, to, antenna, &problems);
    for (const std::string& problem : problems)
        fprintf(stderr, "kelmatrack: %s\n", problem.c_str());
    size_t width = strlen("Target");
    for (const auto& target : targets) width = std::max(width, target.name.size());
    printf("Passes from %s to %s UTC; rotator %s\n", predict::FormatUtc(from).c_str(),
           predict::FormatUtc(to).c_str(), LimitsText(limits).c_str());
    printf("%-*s  %-19s  %-19s  %-19s  %7s  %s\n", static_cast<int>(width), "Target", "Rise",
           "Culmination", "Set", "Highest", "Plan");
    for (const auto& p : passes) {
        printf("%-*s  %s  %s  %s  %7.1f  %s\n", static_cast<int>(width),
               targets[p.target].name.c_str(), predict::FormatUtc(p.pass.rise).c_str(),
               predict::FormatUtc(p.pass.culmination).c_str(),
               predict::FormatUtc(p.pass.set).c_str(), p.pass.max_elevation_deg,
               plan::PlanKindText(p.plan.kind));
    }
    if (passes.empty()) printf("No passes.\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const kelmatrack::Options options =
        kelmatrack::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (options.action) {
        case kelmatrack::Options::Action::kHelp:
            fputs(kelmatrack::kUsage.c_str(), stdout);
            return 0;
        case kelmatrack::Options::Action::kVersion:
            puts("kelmatrack " KELMA_VERSION);
            return 0;
        case kelmatrack::Options::Action::kFail:
            fprintf(stderr, "kelmatrack: %s\n%s", options.error.c_str(),
                    kelmatrack::kUsage.c_str());
            return kExitUsage;
        case kelmatrack::Options::Action::kPlan:
        case kelmatrack::Options::Action::kTrack:
            break;
    }
    std::string error;
    if (!platform::Startup(&error) || !platform::InstallStopHandler(&error)) {
        fprintf(stderr, "kelmatrack: %s\n", error.c_str());
        return kExitSetup;
    }
    auto targets = LoadTargets(options);
    if (!targets) return kExitSetup;
    if (options.action == kelmatrack::Options::Action::kPlan) return PrintPlan(options, *targets);
    return Session(options, std::move(*targets)).Run();
}
