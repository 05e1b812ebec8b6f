// The operator window's serial link to the controller: one COM port at a time on its I/O thread
// (port_thread.h), and the receive ring its bytes go to. The window reads the ring when told
// (ID_SERIAL_DATA, sent synchronously by the port's notifier after each block stored).
//
// Threads: the window's thread calls every operation; the I/O thread stores into the ring (under
// m_csRxRing, through the port's tie); the notifier sends ID_SERIAL_DATA. m_hPort, m_dwThreadId
// and m_bStopThread are the window thread's alone.
#pragma once

#include <windows.h>

#include <mutex>
#include <vector>

#include "serial/port_thread.h"

// The link's notification to the window: WM_COMMAND with this id, code 0 and no control window.
#define ID_SERIAL_DATA 2000

namespace serial {

constexpr int kRxRingSize = 100;

class CriticalSectionLock {
public:
    CriticalSectionLock() { InitializeCriticalSection(&m_section); }
    ~CriticalSectionLock() { DeleteCriticalSection(&m_section); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    void lock() { EnterCriticalSection(&m_section); }
    void unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

enum class SendResult {
    kRefused,     // not written: no port, the port failed, or the port is closing
    kSent,        // handed to the port (taken, or stalled and cancelled)
    kPortFailed,  // handed over, and the port has failed with it: reported this once
};

class SerialLink : private PortSink {
public:
    SerialLink();
    ~SerialLink() override;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Which of the ports numbered first..last can be opened now; each is opened and closed at
    // once, on a thread of its own, all within one bound.
    static std::vector<int> AvailablePorts(int first, int last);
    // 1 when COMn was opened and set; 0 otherwise, also while a port is open or closing.
    int Open(int port, HWND notifyWindow);
    // The port could not be opened since its operations could get no event.
    bool LastOpenHadNoEvent() const { return m_lastOpenError == kNoRecordEvent; }
    // Ends the port's threads, letting messages sent to this thread through meanwhile. False
    // when they were left behind (the port was not released within the bound).
    bool Close();
    SendResult Send(const char* text);
    bool IsOpen() const { return m_port.IsOpen(); }

    // Runs take(ring, size, read, write) with slot indices under the ring's lock; take returns
    // the new read position.
    template <typename Take>
    void TakeReceived(Take&& take) {
        std::lock_guard<CriticalSectionLock> hold(m_csRxRing);
        const size_t read = static_cast<size_t>(m_pRxRead - m_rxRing);
        const size_t write = static_cast<size_t>(m_pRxWrite - m_rxRing);
        m_pRxRead = m_rxRing + take(m_rxRing, sizeof(m_rxRing), read, write);
    }

    // The receive ring: written by the I/O thread, read by the window's thread, both under
    // m_csRxRing. Both positions start on slot 0 and are never reset.
    CriticalSectionLock m_csRxRing;
    char m_rxRing[kRxRingSize] = {};
    char* m_pRxWrite = m_rxRing;
    char* m_pRxRead = m_rxRing;
    // The open port and its I/O thread; INVALID_HANDLE_VALUE and 0 while none is open.
    HANDLE m_hPort = INVALID_HANDLE_VALUE;
    DWORD m_dwThreadId = 0;
    // Close is waiting for the port's threads: nothing else may use the port meanwhile.
    BOOL m_bStopThread = FALSE;

private:
    bool Store(const char* bytes, size_t count) override;

    PortThread m_port;
    uint32_t m_lastOpenError = 0;
};

}  // namespace serial
