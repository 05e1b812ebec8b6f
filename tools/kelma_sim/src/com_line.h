// The controller's end of the cable on Windows: a COM port, opened overlapped so that one thread
// can wait for received characters and for the operator's commands at once.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "serial_line.h"

namespace kelma {

class ComLine : public SerialLine {
public:
    // Opens the port ("COM2") at 9600 8N1 without flow control; nullptr and *error on failure.
    static std::unique_ptr<ComLine> Open(const std::string& name, std::string* error);
    ~ComLine() override;
    ComLine(const ComLine&) = delete;
    ComLine& operator=(const ComLine&) = delete;

    void Write(std::string_view bytes) override;
    void Purge() override;

    // Starts waiting for received characters; ReceiveEvent() is signalled when any arrive.
    bool ArmReceive();
    HANDLE ReceiveEvent() const { return waitOverlapped_.hEvent; }
    // Ends the wait that ReceiveEvent() signalled; false when it failed (the port is gone).
    bool FinishReceive();
    // Every byte already received, without waiting; empty when there is none.
    std::string ReadAvailable();

private:
    ComLine() = default;

    HANDLE port_ = INVALID_HANDLE_VALUE;
    OVERLAPPED waitOverlapped_{};
    OVERLAPPED ioOverlapped_{};
    DWORD eventMask_ = 0;
    bool waiting_ = false;
};

}  // namespace kelma
