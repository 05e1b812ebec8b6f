// The one setting of the controller's line, for every program that opens it (the window,
// kelmarotd and kelma_sim): 9600 bit/s, 8N1, no flow control, DTR off and RTS on, no abort on
// errors, reads that return at once and a bound on writes. Templates over Windows' DCB and
// COMMTIMEOUTS, so that the same code sets a model port's fields in the native tests.
#pragma once

#include <cstdint>

namespace serial {

// Field values as winbase.h defines them.
constexpr uint32_t kLineBaudRate = 9600;  // CBR_9600
constexpr uint8_t kLineDataBits = 8;
constexpr uint8_t kNoParity = 0;                     // NOPARITY
constexpr uint8_t kOneStopBit = 0;                   // ONESTOPBIT
constexpr uint32_t kDtrControlDisable = 0;           // DTR_CONTROL_DISABLE
constexpr uint32_t kRtsControlEnable = 1;            // RTS_CONTROL_ENABLE
constexpr uint32_t kReadReturnsAtOnce = 0xFFFFFFFF;  // MAXDWORD as ReadIntervalTimeout
// What a write may take per byte beyond its constant: 10 bits at 9600 bit/s take 1.04 ms.
constexpr uint32_t kWriteMsPerByte = 2;

// The controller has no handshake: no flow control either way. DTR stays off, as the window has
// always set it; RTS stays on, as Windows leaves a port and kelmarotd has set it. After a line
// error the driver would refuse every read and write until ClearCommError with fAbortOnError set,
// so it is off. Every other field keeps the value the port reported.
template <typename Dcb>
void SetLineFields(Dcb& dcb) {
    dcb.BaudRate = kLineBaudRate;
    dcb.ByteSize = kLineDataBits;
    dcb.Parity = kNoParity;
    dcb.StopBits = kOneStopBit;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fDtrControl = kDtrControlDisable;
    dcb.fRtsControl = kRtsControlEnable;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
    dcb.EvtChar = 0;
}

// Reads return at once with what has arrived (the I/O thread waits for characters with the port's
// event wait); a write the device does not take ends by itself after writeTimeoutMs and a little
// per byte, so that no earlier program's time-outs apply.
template <typename Timeouts>
void SetLineTimeouts(Timeouts& timeouts, uint32_t writeTimeoutMs) {
    timeouts.ReadIntervalTimeout = kReadReturnsAtOnce;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
}

}  // namespace serial
