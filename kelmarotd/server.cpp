#include "kelmarotd/server.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "kelmarotd/controller_watch.h"
#include "kelmarotd/platform.h"
#include "kelmarotd/rotctl_server.h"
#include "kelmarotd/station.h"

namespace kelmarotd {
namespace {

// The station's view of the serial port, logging what is written.
class LoggedPort : public ControllerPort {
public:
    LoggedPort(platform::SerialPort* port, const ServerLog* log) : port_(port), log_(log) {}
    bool IsOpen() const override { return port_->IsOpen(); }
    bool Write(std::string_view bytes) override {
        log_->Traffic("controller <", bytes);
        return port_->Write(bytes);
    }

private:
    platform::SerialPort* port_;
    const ServerLog* log_;
};

// The controller behind the protocol: the station on the serial port.
class ControllerBackend : public ServedBackend {
public:
    ControllerBackend(const Options& options, const ServerLog* log, Station::AnswerSink answer)
        : device_(options.device),
          log_(log),
          serial_(platform::MakeSerialPort()),
          port_(serial_.get(), log),
          station_(options.station, &port_, std::move(answer)),
          watch_(options.device) {}

    void Submit(ClientId client, const Request& request, Millis now) override {
        station_.Submit(client, request, now);
    }
    void ForgetClient(ClientId client) override { station_.ForgetClient(client); }
    std::string Info() const override { return watch_.Info(); }
    Limits AngleLimits() const override { return station_.Settings().limits; }

    void Advance(Millis now) override {
        ReopenIfDue(now);
        station_.Advance(now);
        NoticePortLoss(now);
        TellStateChange(now);
    }
    std::optional<Millis> NextDeadline() const override {
        std::optional<Millis> next = station_.NextDeadline();
        auto consider = [&next](Millis at) { next = next ? std::min(*next, at) : at; };
        if (!serial_->IsOpen()) consider(nextReopenAt_);
        if (const auto change = watch_.NextChange()) consider(*change);
        return next;
    }
    platform::Handle ReadHandle() const override {
        return serial_->IsOpen() ? serial_->ReadHandle() : platform::kNoHandle;
    }
    void OnReadable(Millis now) override;

private:
    void ReopenIfDue(Millis now);
    void NoticePortLoss(Millis now);
    void TellStateChange(Millis now);

    std::string device_;
    const ServerLog* log_;
    std::unique_ptr<platform::SerialPort> serial_;
    LoggedPort port_;
    Station station_;
    ControllerWatch watch_;
    bool portOpen_ = false;
    Millis nextReopenAt_ = 0;
};

void ControllerBackend::ReopenIfDue(Millis now) {
    if (serial_->IsOpen() || now < nextReopenAt_) return;
    std::string error;
    if (!serial_->Open(device_, &error)) {
        watch_.PortFailed(error);
        nextReopenAt_ = now + kReopenIntervalMs;
        return;
    }
    portOpen_ = true;
    station_.OnPortOpened(now);
    watch_.PortOpened(now);
}

void ControllerBackend::NoticePortLoss(Millis now) {
    if (!portOpen_ || serial_->IsOpen()) return;
    portOpen_ = false;
    watch_.PortLost();
    nextReopenAt_ = now + kReopenIntervalMs;
    station_.OnPortLost(now);
}

void ControllerBackend::OnReadable(Millis now) {
    char buffer[256];
    const long n = serial_->Read(buffer, sizeof(buffer));
    if (n == platform::kWouldBlock) return;
    if (n <= 0) {
        serial_->Close();
        NoticePortLoss(now);
    } else {
        const std::string_view bytes(buffer, static_cast<size_t>(n));
        log_->Traffic("controller >", bytes);
        station_.OnControllerBytes(bytes, now);
        if (const auto at = station_.LastReportAt()) watch_.ReportSeen(*at);
    }
    TellStateChange(now);
}

// Each change once, not at every retry or poll.
void ControllerBackend::TellStateChange(Millis now) {
    if (watch_.Update(now)) log_->Event("controller " + watch_.Text());
}

}  // namespace

int RunServer(const Options& options) {
    const ServerLog log("kelmarotd", options.verbose);
    RotctlServer* server = nullptr;  // the backend answers through it once it exists
    ControllerBackend backend(options, &log, [&server](ClientId id, const std::string& answer) {
        server->Deliver(id, answer);
    });
    RotctlServer rotctl(&backend, &log);
    server = &rotctl;
    return rotctl.Run(options.addresses, options.port);
}

}  // namespace kelmarotd
