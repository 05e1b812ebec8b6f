// Serial port control: which COM ports exist, opening and configuring one, writing commands,
// and closing it again by stopping the receive worker (see receive_worker.cpp for the threads,
// the shared words and the stop handshake).
#include <cstdio>
#include <cstring>
#include <memory>

#include "serial/command_write.h"
#include "serial/port_session.h"
#include "serial/worker_close.h"
#include "ui/rotator_dlg.h"

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 3;  // the port list offers COM1 to COM3
// Closing keeps output the port has already taken: a command is logged as sent once the port
// has it, and its bytes may still sit in a USB adapter's buffer (or, under Wine, in the pty)
// when the operator changes ports. No write is in progress then (SendCommand sees each one
// through, cancels it or gives it up), and Wine turns PURGE_TXABORT into a transmit flush too, so
// neither transmit flag is passed. Only a port that has stopped taking bytes loses its unsent
// output, or closing its handle could wait for a transmit queue that never drains.
constexpr DWORD kPurgeOnClose = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kPurgeOnStalledClose = kPurgeOnClose | PURGE_TXABORT | PURGE_TXCLEAR;
constexpr DWORD kBaudRate = CBR_9600;
constexpr BYTE kDataBits = 8;
// Lines of the traffic log about the port itself, each shown once when it happens.
constexpr char kFailedText[] = "COM%d failed\r\n";             // a write it will not give back
constexpr char kNotReleasedText[] = "COM%d not released\r\n";  // its worker did not end

void FormatPortName(char (&name)[16], int port) {
    snprintf(name, sizeof(name), "COM%d", port);
}

// 9600 bit/s, 8N1, no hardware or XON/XOFF flow control, DTR off, no event character. The five
// flag fields cleared here are the bits 0x33C of the DCB's flag word; every other field stays
// as the port reported it.
bool ApplyLineSettings(HANDLE port) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = kDataBits;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.EvtChar = 0;
    return SetCommState(port, &dcb) != FALSE;
}

void ClearPortErrors(HANDLE port) {
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);  // only clears the error state; nothing to report
}

constexpr char kDialogClass[] = "#32770";

// The write of one command with the window's write record, for kelma::CommandWriter. A write
// given up goes to the port's session with its bytes, and the window gets a new record.
class PortWrite {
public:
    PortWrite(HANDLE port, std::unique_ptr<WriteRecord>& record, PortSession* session)
        : m_port(port), m_record(record), m_session(session) {}

    bool Start() {
        DWORD written = 0;
        return WriteFile(m_port, m_record->bytes.data(), static_cast<DWORD>(m_record->bytes.size()),
                         &written, m_record.get()) != FALSE;
    }
    bool StartedPending() const { return GetLastError() == ERROR_IO_PENDING; }
    kelma::OpWait Wait(uint32_t ms) {
        return Settle(ms) ? kelma::OpWait::kFinished : kelma::OpWait::kTimedOut;
    }
    bool Settle(uint32_t ms) { return WaitForSingleObject(m_record->hEvent, ms) == WAIT_OBJECT_0; }
    void Cancel() { CancelIo(m_port); }
    bool Finished(size_t& count) {
        DWORD written = 0;
        const bool ok = GetOverlappedResult(m_port, m_record.get(), &written, FALSE) != FALSE;
        count = written;
        return ok;
    }
    void ClearErrors() { ClearPortErrors(m_port); }
    void GiveUp() {
        if (m_session != nullptr) {
            m_session->HandOver(std::move(m_record));
        } else {
            m_record.release();  // no session to free it: it stays for good
        }
        m_record = std::make_unique<WriteRecord>();
    }

private:
    HANDLE m_port;
    std::unique_ptr<WriteRecord>& m_record;
    PortSession* m_session;
};

BOOL CALLBACK CloseDialogBox(HWND window, LPARAM) {
    char className[sizeof(kDialogClass) + 1] = {};
    GetClassNameA(window, className, sizeof(className));
    if (strcmp(className, kDialogClass) == 0) PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// The worker's thread as ClosePort waits for it, for kelma::WaitForWorkerEnd. Only messages
// that other threads send are let through: posted ones (input, timers) stay queued, so no
// operator action runs nested in ClosePort.
class WorkerThread {
public:
    WorkerThread(HANDLE thread, DWORD threadId) : m_thread(thread), m_threadId(threadId) {}

    uint32_t Now() const { return GetTickCount(); }
    kelma::WorkerWait Wait(uint32_t ms) {
        DWORD woke = MsgWaitForMultipleObjects(1, &m_thread, FALSE, ms, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 + 1) return kelma::WorkerWait::kMessage;
        // The queue cannot be watched: a plain wait, messages let through between.
        if (woke == WAIT_FAILED) woke = WaitForSingleObject(m_thread, ms);
        return woke == WAIT_TIMEOUT ? kelma::WorkerWait::kTimedOut : kelma::WorkerWait::kEnded;
    }
    void LetSentMessagesThrough() {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    // A worker that could not start shows a message box until it is closed: the port is going.
    void CloseErrorBox() { EnumThreadWindows(m_threadId, &CloseDialogBox, 0); }

private:
    HANDLE m_thread;
    DWORD m_threadId;
};

}  // namespace

void CRotatorDlg::EnumeratePorts() {
    HWND combo = GetDlgItem(IDC_PORT);
    if (combo == nullptr) return;
    LRESULT chosenIndex = 0;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        char name[16];
        FormatPortName(name, port);
        HANDLE probe =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) continue;
        const LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendMessageA(combo, CB_SETITEMDATA, index, port);
        if (port == m_nPort) chosenIndex = index;
        CloseHandle(probe);
    }
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0) {
        SendMessageA(combo, CB_SETCURSEL, chosenIndex, 0);
        m_nPort = static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, chosenIndex, 0));
    } else {
        m_nPort = 0;
    }
}

int CRotatorDlg::OpenPort(int port) {
    // Nested inside a waiting ClosePort the old worker may still run: no second one.
    if (m_hPort != INVALID_HANDLE_VALUE || m_bClosing) return 0;
    char name[16];
    FormatPortName(name, port);
    m_hPort = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (m_hPort == INVALID_HANDLE_VALUE) return 0;
    m_pSession = new PortSession(*this, m_hPort, m_hWnd);
    m_writer.PortOpened();
    // From here on a failure leaves the port open without a worker; ClosePort releases it.
    if (!ApplyLineSettings(m_hPort)) return 0;
    if (m_dwThreadId != 0) return 0;
    return StartReceiveWorker();
}

int CRotatorDlg::StartReceiveWorker() {
    if (m_pSession->stopEvent == nullptr) return 0;
    m_bStopThread = FALSE;
    m_pSession->tie.AddHolder();
    DWORD threadId = 0;
    // Suspended, so that the identifier is in place before the worker runs.
    m_hWorker = CreateThread(nullptr, 0, &CRotatorDlg::ReceiveThread, m_pSession, CREATE_SUSPENDED,
                             &threadId);
    if (m_hWorker == nullptr) {
        PortSession::Drop(m_pSession);  // the worker's hold; the window's remains
        return 0;
    }
    m_dwThreadId = threadId;
    ResumeThread(m_hWorker);
    return 1;
}

// Waits, within a bound, for the worker to end; true when no worker runs any more. Past the
// bound the worker is left to end on its own: from then on it never reaches this window.
bool CRotatorDlg::StopReceiveWorker() {
    if (m_pSession != nullptr && m_pSession->stopEvent != nullptr) SetEvent(m_pSession->stopEvent);
    if (m_hWorker == nullptr) return true;
    WorkerThread worker(m_hWorker, m_dwThreadId);
    const bool ended = kelma::WaitForWorkerEnd(worker) == kelma::WorkerEnd::kEnded;
    if (!ended) m_pSession->tie.LetGo();
    CloseHandle(m_hWorker);
    m_hWorker = nullptr;
    return ended;
}

int CRotatorDlg::ClosePort() {
    // Nested inside a ClosePort that is waiting (a sent message let through): the outer call
    // finishes the job.
    if (m_hPort == INVALID_HANDLE_VALUE || m_bClosing) return 1;
    m_bClosing = true;
    const HANDLE port = m_hPort;
    PurgeComm(port, m_writer.Stalled() ? kPurgeOnStalledClose : kPurgeOnClose);
    // The mask change wakes a worker that waits for port events; the worker closes the port
    // only after it has seen the stop flag, so the port is still ours for both calls.
    SetCommMask(port, kStopMask);
    m_bStopThread = TRUE;
    const bool released = StopReceiveWorker();
    // A port whose worker never started or ended early is still open: release it here. One
    // whose worker was left behind is closed by that worker.
    if (released && m_pSession != nullptr) m_pSession->ClosePort();
    if (released && m_pSession == nullptr) CloseHandle(port);
    PortSession::Drop(m_pSession);
    m_pSession = nullptr;
    m_hPort = INVALID_HANDLE_VALUE;
    m_dwThreadId = 0;
    m_bStopThread = FALSE;
    m_bClosing = false;
    if (!released) LogPortText(kNotReleasedText);
    return 1;
}

int CRotatorDlg::SendCommand(const char* text) {
    // While ClosePort waits the worker may close the port at any moment: no writes then.
    const HANDLE port = m_bClosing ? INVALID_HANDLE_VALUE : m_hPort.load();
    if (port == INVALID_HANDLE_VALUE) return 0;
    m_ovWrite->bytes = text;
    PortWrite write(port, m_ovWrite, m_pSession);
    const kelma::WriteOutcome outcome = m_writer.Write(write);
    if (outcome == kelma::WriteOutcome::kRefused) return 0;
    AppendLog(text);
    if (outcome == kelma::WriteOutcome::kGivenUp) LogPortText(kFailedText);
    return 1;
}

// A line about the port in use, in the traffic log, while the window is there to show it.
void CRotatorDlg::LogPortText(const char* format) {
    if (m_hWnd == nullptr || !IsWindow(m_hWnd)) return;
    char line[32];
    snprintf(line, sizeof(line), format, m_nPort);
    AppendLog(line);
}
