#include "serial/serial_link.h"

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "serial/win32_port.h"

namespace serial {
namespace {

// The longest command (8 bytes) is on the wire in 8.3 ms. A port that has not taken a command
// well after that has stalled (a hung adapter, a stopped link); the bound keeps the window
// answering: two stalled writes and the settle pause of one tracking step stay under a second.
// Once a write has stalled, later ones get the short bound until the port takes one again, so
// that a tracking step, a poll and an operator's click in a row cannot add up to a second. A
// cancelled write normally ends at once; one that has not ended after the grace never may.
constexpr WriteBounds kCommandWriteBounds = {300, 50, 500};

std::string DeviceName(int port) {
    char name[16];
    snprintf(name, sizeof(name), "COM%d", port);
    return name;
}

// While the window waits for a port's threads, messages that other threads send to it are let
// through: the notifier may be waiting in its ID_SERIAL_DATA. Posted ones (input, timers) stay
// queued, so no operator action runs nested in the close.
class SentMessagesWait : public CloseWait {
public:
    WorkerWait Wait(uint32_t ms) override {
        switch (MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_SENDMESSAGE)) {
            case WAIT_OBJECT_0:
                return WorkerWait::kWoken;
            case WAIT_TIMEOUT:
                return WorkerWait::kTimedOut;
            default:
                return WorkerWait::kFailed;
        }
    }
    void Pause(uint32_t ms) override { Sleep(ms); }
    void LetSentMessagesThrough() override {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
};

}  // namespace

SerialLink::SerialLink() = default;

SerialLink::~SerialLink() {
    Close();
}

std::vector<int> SerialLink::AvailablePorts(int first, int last) {
    std::vector<std::string> devices;
    for (int port = first; port <= last; ++port) devices.push_back(DeviceName(port));
    const std::vector<bool> found = ProbePorts(
        devices, [] { return std::make_unique<Win32Port>(); }, CallerBounds{}.openMs);
    std::vector<int> ports;
    for (int port = first; port <= last; ++port)
        if (found[static_cast<size_t>(port - first)]) ports.push_back(port);
    return ports;
}

int SerialLink::Open(int port, HWND notifyWindow) {
    // Nested inside a waiting Close the old port's threads may still run: no second port.
    if (m_port.IsOpen() || m_bStopThread) return 0;
    auto driver = std::make_unique<Win32Port>();
    const Win32Port& opened = *driver;
    const PortSettings settings = {
        DeviceName(port), kCommandWriteBounds.takenMs, kCommandWriteBounds, 0, {}};
    const OpenResult result = m_port.Open(
        std::move(driver), *this,
        [notifyWindow] {
            SendMessageA(notifyWindow, WM_COMMAND, MAKEWPARAM(ID_SERIAL_DATA, 0), 0);
        },
        settings);
    m_lastOpenError = result.error;
    if (!result.ok) return 0;
    m_hPort = opened.Handle();
    m_dwThreadId = opened.ThreadId();
    return 1;
}

bool SerialLink::Close() {
    // Nested inside a Close that is waiting (a sent message let through): the outer call
    // finishes the job.
    if (!m_port.IsOpen() || m_bStopThread) return true;
    m_bStopThread = TRUE;
    SentMessagesWait wait;
    const bool released = m_port.Close(&wait);
    m_hPort = INVALID_HANDLE_VALUE;
    m_dwThreadId = 0;
    m_bStopThread = FALSE;
    return released;
}

SendResult SerialLink::Send(const char* text) {
    // While Close waits, the port is on its way out: no writes then.
    if (m_bStopThread) return SendResult::kRefused;
    switch (m_port.Write(text)) {
        case WriteOutcome::kRefused:
            return SendResult::kRefused;
        case WriteOutcome::kGivenUp:
            return SendResult::kPortFailed;
        default:
            return SendResult::kSent;
    }
}

// After an overflow the window is not told: the rest of the block was dropped.
bool SerialLink::Store(const char* bytes, size_t count) {
    std::lock_guard<CriticalSectionLock> hold(m_csRxRing);
    const RxStoreResult stored =
        RingStore(m_rxRing, sizeof(m_rxRing), m_pRxWrite, m_pRxRead, bytes, count);
    m_pRxWrite = stored.write;
    return stored.complete;
}

}  // namespace serial
