// The receive worker.
//
// Threads: the UI thread (OpenPort, ClosePort, SendCommand, OnSerialData and every other
// handler) and this worker, the program's only other thread. The worker waits for received
// characters, reads at most 20 bytes per pass into the receive ring and tells the window with a
// synchronous ID_SERIAL_DATA, so the window has handled each block before the next is read.
//
// Shared words, each an atomic 32-bit variable of the dialog:
// - m_hPort: set by OpenPort before the worker starts; closed and set to INVALID_HANDLE_VALUE
//   by the worker at its end (or by ClosePort when no worker runs). Read afresh for each call.
// - m_bStopThread: set to 1 by ClosePort; read at every pass; cleared by the worker at its end.
// - m_dwThreadId: set by OpenPort before the worker runs; cleared by the worker at its end.
// Lock: g_csRxRing guards m_rxRing, m_pRxWrite and m_pRxRead; the worker holds it only while it
// stores one block.
//
// Stop handshake: ClosePort purges the port, changes its event mask, sets m_bStopThread and
// signals m_hStopEvent. Every wait of the worker also waits on that event, so it ends at once
// whatever the platform makes of the mask change (Windows ends a pending event wait with an
// empty mask, Wine with ERROR_OPERATION_ABORTED; a purge alone does not end it on Wine). The
// worker then ends its own I/O (a wait that started after the mask change is ended by changing
// the mask once more) and runs its exit steps: close the port, mark it closed, clear its
// identifier, clear the stop flag. ClosePort waits for the thread to end, letting a
// notification in flight through meanwhile.
#include <memory>

#include "serial/overlapped_op.h"
#include "serial/receive_passes.h"
#include "ui/rotator_dlg.h"

namespace {

constexpr DWORD kRetryPauseMs = 50;  // the pass pause of receive_passes.h
// The event mask that ends a wait: one that a controller never raises.
constexpr DWORD kStopMask = EV_RING;
// How long the end of the worker waits for its own cancelled I/O to finish.
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

// The port operations of the worker's passes, on the dialog's port and ring.
class WorkerPort {
public:
    WorkerPort(CRotatorDlg& dialog, WorkerIo& io) : m_dlg(dialog), m_io(io) {}

    PortWait WaitForCharacters() {
        DWORD count = 0;
        m_io.eventMask = 0;
        const PortIo waited = RunOverlapped(Port(), m_io, m_dlg.m_hStopEvent, count, [&] {
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
        const PortIo read = RunOverlapped(Port(), m_io, m_dlg.m_hStopEvent, got, [&] {
            return ReadFile(Port(), m_io.buffer, static_cast<DWORD>(wanted), nullptr, &m_io.ov) !=
                   FALSE;
        });
        count = got;
        return read;
    }

    // After an overflow the window is not told: the rest of the block was dropped.
    void Deliver(size_t count) {
        EnterCriticalSection(&g_csRxRing);
        const kelma::RxStoreResult stored = kelma::RingStore(
            m_dlg.m_rxRing, kRxRingSize, m_dlg.m_pRxWrite, m_dlg.m_pRxRead, m_io.buffer, count);
        m_dlg.m_pRxWrite = stored.write;
        LeaveCriticalSection(&g_csRxRing);
        if (stored.complete)
            SendMessageA(m_dlg.m_hDataWnd, WM_COMMAND, MAKEWPARAM(ID_SERIAL_DATA, 0), 0);
    }

    bool StopRequested() const { return m_dlg.m_bStopThread != FALSE; }

    void Pause() {
        if (WaitForSingleObject(m_dlg.m_hStopEvent, kRetryPauseMs) == WAIT_FAILED)
            Sleep(kRetryPauseMs);
    }

private:
    HANDLE Port() const { return m_dlg.m_hPort; }

    CRotatorDlg& m_dlg;
    WorkerIo& m_io;
};

// In this order; ClosePort relies on the stop flag being cleared last.
void RunExitSteps(CRotatorDlg& dialog) {
    CloseHandle(dialog.m_hPort);
    dialog.m_hPort = INVALID_HANDLE_VALUE;
    dialog.m_dwThreadId = 0;
    dialog.m_bStopThread = FALSE;
}

}  // namespace

DWORD WINAPI CRotatorDlg::ReceiveThread(LPVOID dialogArg) {
    CRotatorDlg& dialog = *static_cast<CRotatorDlg*>(dialogArg);
    auto io = std::make_unique<WorkerIo>();
    io->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (io->ov.hEvent == nullptr) {
        // Owned by the window, so that it shows above it; ClosePort closes it should the
        // operator not have done so (see port_control.cpp).
        MessageBoxA(dialog.m_hDataWnd, "Failed to create event for thread!", "Error",
                    MB_OK | MB_ICONEXCLAMATION);
        return 0;  // the port stays open; ClosePort releases it
    }
    if (!SetCommMask(dialog.m_hPort, EV_RXCHAR)) {
        CloseHandle(io->ov.hEvent);
        return 0;  // as above
    }
    WorkerPort port(dialog, *io);
    kelma::ReceivePasses<WorkerPort>(port).Run();
    RunExitSteps(dialog);
    // Closing the port ends any operation that a cancel left running.
    if (io->record.InFlight() &&
        WaitForSingleObject(io->ov.hEvent, kCancelGraceMs) == WAIT_OBJECT_0)
        io->record.Ended();
    if (io->record.InFlight()) {
        io.release();  // still in use by the platform: leave it rather than free it
        return 0;
    }
    CloseHandle(io->ov.hEvent);
    return 0;
}
