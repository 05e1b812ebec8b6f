// The receive worker.
//
// Threads: the UI thread (OpenPort, ClosePort, SendCommand, OnSerialData and every other
// handler) and this worker, the program's only other thread. The worker waits for received
// characters, reads at most 20 bytes per pass into the receive ring and tells the window with a
// synchronous ID_SERIAL_DATA, so the window has handled each block before the next is read.
//
// The worker works on a PortSession (port_session.h): the port handle, its stop event and the
// window to notify are the session's; it reaches the dialog only through the session's tie,
// which ClosePort lets go of when it leaves a worker behind.
//
// Shared words, each an atomic 32-bit variable of the dialog, reached through the tie:
// - m_hPort: set by OpenPort before the worker starts; set to INVALID_HANDLE_VALUE by the worker
//   at its end, once it has closed the port (or by ClosePort when no worker runs).
// - m_bStopThread: set to 1 by ClosePort; read at every pass; cleared by the worker at its end.
// - m_dwThreadId: set by OpenPort before the worker runs; cleared by the worker at its end.
// Lock: g_csRxRing guards m_rxRing, m_pRxWrite and m_pRxRead; the worker holds it only while it
// stores one block (inside the tie's lock, which the UI thread never holds while waiting).
//
// Stop handshake: ClosePort purges the port, changes its event mask, sets m_bStopThread and
// signals the stop event. Every wait of the worker also waits on that event, so it ends at once
// whatever the platform makes of the mask change (Windows ends a pending event wait with an
// empty mask, Wine with ERROR_OPERATION_ABORTED; a purge alone does not end it on Wine). The
// worker then ends its own I/O (a wait that started after the mask change is ended by changing
// the mask once more) and runs its exit steps: close the port, mark it closed, clear its
// identifier, clear the stop flag. ClosePort waits for the thread to end, letting a
// notification in flight through meanwhile, for at most kCloseBoundMs (worker_close.h); past
// that it lets go of the worker, which then touches only its session, and frees it at its end.
#include <memory>

#include "serial/overlapped_op.h"
#include "serial/port_session.h"
#include "serial/receive_passes.h"
#include "ui/rotator_dlg.h"

namespace {

constexpr DWORD kRetryPauseMs = 50;  // the pass pause of receive_passes.h
// How long the worker waits for an operation of its own to end once it has cancelled it.
constexpr DWORD kCancelGraceMs = 2000;

using kelma::PortIo;
using kelma::PortWait;

// The worker's I/O state. It lives on the heap so that it can be left behind should an
// operation never finish after cancelling: the platform may still write into it.
struct WorkerIo {
    OVERLAPPED ov = {};
    DWORD eventMask = 0;
    char buffer[kelma::kRxReadMax] = {};
    kelma::OverlappedRecord record;
};

// One operation of the worker on its record, for kelma::OverlappedRecord: started() is the
// platform call; a wait ends early when ClosePort signals the stop event.
template <typename Starter>
class WorkerOp {
public:
    WorkerOp(HANDLE port, WorkerIo& io, HANDLE stopEvent, Starter started)
        : m_port(port), m_io(io), m_stopEvent(stopEvent), m_started(started) {}

    bool Start() { return m_started(); }
    bool StartedPending() const { return GetLastError() == ERROR_IO_PENDING; }
    kelma::OpWait Wait(uint32_t ms) {
        HANDLE waits[] = {m_io.ov.hEvent, m_stopEvent};
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, ms);
        if (woke == WAIT_OBJECT_0) return kelma::OpWait::kFinished;
        if (woke == WAIT_OBJECT_0 + 1) return kelma::OpWait::kStopped;
        m_failed = true;
        return kelma::OpWait::kFailed;
    }
    bool Settle(uint32_t ms) { return WaitForSingleObject(m_io.ov.hEvent, ms) == WAIT_OBJECT_0; }
    // A wait that began after ClosePort changed the mask is ended the same way (Wine's CancelIo
    // does not end an event wait); CancelIo ends a read.
    void Cancel() {
        SetCommMask(m_port, kStopMask);
        CancelIo(m_port);
    }
    bool Finished(size_t& count) {
        DWORD done = 0;
        const bool ok = GetOverlappedResult(m_port, &m_io.ov, &done, FALSE) != FALSE;
        count = done;
        return ok;
    }

    PortIo Run(size_t& count) {
        const kelma::OpEnd end = m_io.record.Run(*this, kelma::kNoBound, kCancelGraceMs, count);
        if (m_failed) SetCommMask(m_port, EV_RXCHAR);  // the wait itself failed: go on receiving
        if (end == kelma::OpEnd::kDone) return PortIo::kDone;
        return end == kelma::OpEnd::kStopped ? PortIo::kStopped : PortIo::kFailed;
    }

private:
    HANDLE m_port;
    WorkerIo& m_io;
    HANDLE m_stopEvent;
    Starter m_started;
    bool m_failed = false;
};

template <typename Start>
PortIo RunOverlapped(HANDLE port, WorkerIo& io, HANDLE stopEvent, DWORD& count, Start started) {
    size_t done = 0;
    const PortIo result = WorkerOp<Start>(port, io, stopEvent, started).Run(done);
    count = static_cast<DWORD>(done);
    return result;
}

// The port operations of the worker's passes, on the session's port and the dialog's ring.
class WorkerPort {
public:
    WorkerPort(PortSession& session, WorkerIo& io) : m_session(session), m_io(io) {}

    PortWait WaitForCharacters() {
        DWORD count = 0;
        m_io.eventMask = 0;
        const PortIo waited = RunOverlapped(Port(), m_io, m_session.stopEvent, count, [&] {
            return WaitCommEvent(Port(), &m_io.eventMask, &m_io.ov) != FALSE;
        });
        if (waited == PortIo::kStopped) return PortWait::kStopped;
        if (waited == PortIo::kFailed) return PortWait::kFailed;
        return (m_io.eventMask & EV_RXCHAR) ? PortWait::kCharacters : PortWait::kOtherEvent;
    }

    bool QueuedBytes(size_t& queued) {
        DWORD errors = 0;
        COMSTAT status = {};
        const bool ok = ClearCommError(Port(), &errors, &status) != FALSE;
        queued = status.cbInQue;
        return ok;
    }

    PortIo Read(size_t wanted, size_t& count) {
        DWORD got = 0;
        const PortIo read = RunOverlapped(Port(), m_io, m_session.stopEvent, got, [&] {
            return ReadFile(Port(), m_io.buffer, static_cast<DWORD>(wanted), nullptr, &m_io.ov) !=
                   FALSE;
        });
        count = got;
        return read;
    }

    // After an overflow the window is not told: the rest of the block was dropped.
    void Deliver(size_t count) {
        bool complete = false;
        const bool tied = m_session.tie.WithOwner([&](CRotatorDlg& dialog) {
            EnterCriticalSection(&g_csRxRing);
            const kelma::RxStoreResult stored =
                kelma::RingStore(dialog.m_rxRing, kRxRingSize, dialog.m_pRxWrite, dialog.m_pRxRead,
                                 m_io.buffer, count);
            dialog.m_pRxWrite = stored.write;
            LeaveCriticalSection(&g_csRxRing);
            complete = stored.complete;
        });
        if (tied && complete)
            SendMessageA(m_session.window, WM_COMMAND, MAKEWPARAM(ID_SERIAL_DATA, 0), 0);
    }

    // A worker that ClosePort has let go of stops too.
    bool StopRequested() const {
        bool stop = true;
        m_session.tie.WithOwner([&](CRotatorDlg& dialog) { stop = dialog.m_bStopThread != FALSE; });
        return stop;
    }

    void Pause() {
        if (WaitForSingleObject(m_session.stopEvent, kRetryPauseMs) == WAIT_FAILED)
            Sleep(kRetryPauseMs);
    }

private:
    HANDLE Port() const { return m_session.Port(); }

    PortSession& m_session;
    WorkerIo& m_io;
};

// In this order; ClosePort relies on the stop flag being cleared last.
void RunExitSteps(PortSession& session) {
    session.ClosePort();
    session.tie.WithOwner([](CRotatorDlg& dialog) {
        dialog.m_hPort = INVALID_HANDLE_VALUE;
        dialog.m_dwThreadId = 0;
        dialog.m_bStopThread = FALSE;
    });
}

void Receive(PortSession& session) {
    auto io = std::make_unique<WorkerIo>();
    io->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (io->ov.hEvent == nullptr) {
        // Owned by the window, so that it shows above it; ClosePort closes it should the
        // operator not have done so (see port_control.cpp).
        MessageBoxA(session.window, "Failed to create event for thread!", "Error",
                    MB_OK | MB_ICONEXCLAMATION);
        return;  // the port stays open; ClosePort releases it
    }
    if (!SetCommMask(session.Port(), EV_RXCHAR)) {
        CloseHandle(io->ov.hEvent);
        return;  // as above
    }
    WorkerPort port(session, *io);
    kelma::ReceivePasses<WorkerPort>(port).Run();
    RunExitSteps(session);
    // Closing the port ends any operation that a cancel left running.
    if (io->record.InFlight() &&
        WaitForSingleObject(io->ov.hEvent, kCancelGraceMs) == WAIT_OBJECT_0)
        io->record.Ended();
    if (io->record.InFlight()) {
        io.release();  // still in use by the platform: leave it rather than free it
        return;
    }
    CloseHandle(io->ov.hEvent);
}

}  // namespace

// Its argument is the port's session, which it holds until it ends.
DWORD WINAPI CRotatorDlg::ReceiveThread(LPVOID sessionArg) {
    PortSession* session = static_cast<PortSession*>(sessionArg);
    Receive(*session);
    PortSession::Drop(session);
    return 0;
}
