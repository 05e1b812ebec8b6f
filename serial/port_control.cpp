// Serial port control: which COM ports exist, opening and configuring one, writing commands,
// and closing it again by stopping the receive worker (see receive_worker.cpp for the threads,
// the shared words and the stop handshake).
#include <cstdio>
#include <cstring>

#include "serial/command_write.h"
#include "serial/worker_close.h"
#include "ui/rotator_dlg.h"

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 3;  // the port list offers COM1 to COM3
// Closing keeps output the port has already taken: a command is logged as sent once the port
// has it, and its bytes may still sit in a USB adapter's buffer (or, under Wine, in the pty)
// when the operator changes ports. No write is in progress then (SendCommand sees each one
// through or cancels it), and Wine turns PURGE_TXABORT into a transmit flush too, so neither
// transmit flag is passed. Only a port that has stopped taking bytes loses its unsent output,
// or closing its handle could wait for a transmit queue that never drains.
constexpr DWORD kPurgeOnClose = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kPurgeOnStalledClose = kPurgeOnClose | PURGE_TXABORT | PURGE_TXCLEAR;
constexpr DWORD kStopMask = EV_RING;  // a port event the controller never raises
constexpr DWORD kBaudRate = CBR_9600;
constexpr BYTE kDataBits = 8;

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

// The write of one command with the window's write record, for kelma::CommandWriter.
class PortWrite {
public:
    PortWrite(HANDLE port, OVERLAPPED& record, const char* text)
        : m_port(port), m_record(record), m_text(text) {}

    bool Start() {
        DWORD written = 0;
        return WriteFile(m_port, m_text, static_cast<DWORD>(strlen(m_text)), &written, &m_record) !=
               FALSE;
    }
    bool StartedPending() const { return GetLastError() == ERROR_IO_PENDING; }
    kelma::OpWait Wait(uint32_t ms) {
        return Settle(ms) ? kelma::OpWait::kFinished : kelma::OpWait::kTimedOut;
    }
    bool Settle(uint32_t ms) { return WaitForSingleObject(m_record.hEvent, ms) == WAIT_OBJECT_0; }
    void Cancel() { CancelIo(m_port); }
    bool Finished(size_t& count) {
        DWORD written = 0;
        const bool ok = GetOverlappedResult(m_port, &m_record, &written, FALSE) != FALSE;
        count = written;
        return ok;
    }
    void ClearErrors() { ClearPortErrors(m_port); }

private:
    HANDLE m_port;
    OVERLAPPED& m_record;
    const char* m_text;
};

void LetSentMessagesThrough() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

BOOL CALLBACK CloseErrorBox(HWND window, LPARAM) {
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
    void LetSentMessagesThrough() { ::LetSentMessagesThrough(); }
    // A worker that could not start shows a message box until it is closed: the port is going.
    void CloseErrorBox() { EnumThreadWindows(m_threadId, &::CloseErrorBox, 0); }

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
    // From here on a failure leaves the port open without a worker; ClosePort releases it.
    if (!ApplyLineSettings(m_hPort)) return 0;
    if (m_dwThreadId != 0) return 0;
    return StartReceiveWorker();
}

int CRotatorDlg::StartReceiveWorker() {
    m_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hStopEvent == nullptr) return 0;
    m_hDataWnd = m_hWnd;
    m_bStopThread = FALSE;
    DWORD threadId = 0;
    // Suspended, so that the identifier is in place before the worker runs.
    m_hWorker =
        CreateThread(nullptr, 0, &CRotatorDlg::ReceiveThread, this, CREATE_SUSPENDED, &threadId);
    if (m_hWorker == nullptr) {
        CloseHandle(m_hStopEvent);
        m_hStopEvent = nullptr;
        return 0;
    }
    m_dwThreadId = threadId;
    ResumeThread(m_hWorker);
    return 1;
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
    if (m_hStopEvent != nullptr) SetEvent(m_hStopEvent);
    if (m_hWorker != nullptr) {
        WorkerThread worker(m_hWorker, m_dwThreadId);
        kelma::WaitForWorkerEnd(worker);
        CloseHandle(m_hWorker);
        m_hWorker = nullptr;
    }
    if (m_hStopEvent != nullptr) {
        CloseHandle(m_hStopEvent);
        m_hStopEvent = nullptr;
    }
    // A port whose worker never started or ended early is still open: release it here.
    if (m_hPort != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hPort);
        m_hPort = INVALID_HANDLE_VALUE;
    }
    m_dwThreadId = 0;
    m_bStopThread = FALSE;
    m_bClosing = false;
    return 1;
}

int CRotatorDlg::SendCommand(const char* text) {
    // While ClosePort waits the worker may close the port at any moment: no writes then.
    const HANDLE port = m_bClosing ? INVALID_HANDLE_VALUE : m_hPort.load();
    if (port == INVALID_HANDLE_VALUE) return 0;
    PortWrite write(port, m_ovWrite, text);
    if (m_writer.Write(write) == kelma::WriteOutcome::kRefused) return 0;
    AppendLog(text);
    return 1;
}
