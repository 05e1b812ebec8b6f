// The controller's end of the cable on Windows: a COM port on the serial layer's I/O thread
// (serial/port_thread.h), which makes every call that reaches the driver. Received bytes wait
// here, with an event set, until the simulator's thread takes them.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "serial/port_thread.h"
#include "serial_line.h"

namespace kelma {

class ComLine : public SerialLine, private serial::PortSink {
public:
    // Opens the port ("COM2") at 9600 8N1 without flow control; nullptr and *error on failure.
    static std::unique_ptr<ComLine> Open(const std::string& name, std::string* error);
    ~ComLine() override;
    ComLine(const ComLine&) = delete;
    ComLine& operator=(const ComLine&) = delete;

    // A write the port does not take in time is a lost line, as on a cable.
    void Write(std::string_view bytes) override;
    void Purge() override;

    // Set while received bytes wait to be taken.
    HANDLE ReceiveEvent() const { return received_event_; }
    // Every byte received so far, without waiting; empty when there is none.
    std::string ReadAvailable();

private:
    ComLine();
    bool Store(const char* bytes, size_t count) override;

    serial::PortThread port_;
    const HANDLE received_event_;  // manual reset
    std::mutex lock_;
    std::string received_;  // guarded by lock_
};

}  // namespace kelma
