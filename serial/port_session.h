// One open port as the window and its receive worker share it: the port handle, the worker's
// stop event, the window the worker notifies, and writes given up while the driver still held
// them. The worker holds it until it ends, so a worker left behind by ClosePort (worker_tie.h)
// keeps what it uses, and the last holder to let go frees it all.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "serial/worker_tie.h"

class CRotatorDlg;

// A port event that the controller never raises: changing the mask to it ends a port-event wait.
constexpr DWORD kStopMask = EV_RING;

// The record of one write and the bytes it writes; both stay valid until the driver lets go.
struct WriteRecord : OVERLAPPED {
    WriteRecord();  // with its own manual-reset event, not signalled
    ~WriteRecord();
    WriteRecord(const WriteRecord&) = delete;
    WriteRecord& operator=(const WriteRecord&) = delete;

    std::string bytes;
};

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

class PortSession {
public:
    // The caller (the window) is its first holder.
    PortSession(CRotatorDlg& dialog, HANDLE port, HWND window);
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

    HANDLE Port() const { return m_port; }
    // Closes the port handle, once, whoever comes first.
    void ClosePort();
    // Keeps a write the driver still holds until the session goes, after the port has closed.
    void HandOver(std::unique_ptr<WriteRecord> write);
    // Each holder lets go once; the last frees the session.
    static void Drop(PortSession* session);

    kelma::WorkerTie<CRotatorDlg, CriticalSectionLock> tie;
    const HANDLE stopEvent;  // signalled by ClosePort: ends every wait of the worker
    const HWND window;       // the window the worker sends ID_SERIAL_DATA to

private:
    ~PortSession();

    std::atomic<HANDLE> m_port;
    std::vector<std::unique_ptr<WriteRecord>> m_givenUpWrites;  // the window's thread adds
};
