// Serial port control: which COM ports exist, opening and configuring one, writing commands,
// and closing it again by stopping the receive worker (see receive_worker.cpp for the threads,
// the shared words and the stop handshake).
#include <cstdio>
#include <cstring>

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

// The longest command (8 bytes) is on the wire in 8.3 ms. A port that has not taken a command
// well after that has stalled (a hung adapter, a stopped link); the bound keeps the window
// answering: two stalled writes and the settle pause of one tracking step stay under a second.
constexpr DWORD kWriteTimeoutMs = 300;
// Once a write has stalled, later writes get this much until the port takes one again, so that
// a tracking step, a poll and an operator's click in a row cannot add up to a second.
constexpr DWORD kStalledWriteTimeoutMs = 50;
// While ClosePort waits for the worker, how often it looks for the worker's error box.
constexpr DWORD kWorkerCheckMs = 100;
constexpr char kDialogClass[] = "#32770";

enum class WriteEnd { kTaken, kFailed, kStalled };

// Sees a pending write through, or cancels it once the bound has passed and waits until the
// cancel has finished, so that the record is free for the next write.
WriteEnd FinishWrite(HANDLE port, OVERLAPPED& ov, DWORD boundMs) {
    const bool stalled = WaitForSingleObject(ov.hEvent, boundMs) != WAIT_OBJECT_0;
    if (stalled) CancelIo(port);
    DWORD written = 0;
    if (GetOverlappedResult(port, &ov, &written, TRUE)) return WriteEnd::kTaken;
    return stalled ? WriteEnd::kStalled : WriteEnd::kFailed;
}

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

// Waits for the worker's thread to end while letting messages that other threads send to this
// thread's windows through: the worker may be blocked in its synchronous ID_SERIAL_DATA, and
// it can only see the stop request once that has been handled. Posted messages (input, timers)
// stay queued, so no operator action runs nested here. A worker that could not start shows a
// message box until it is closed: the port is going, so close it.
void WaitForWorker(HANDLE thread, DWORD threadId) {
    for (;;) {
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &thread, FALSE, kWorkerCheckMs, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) return;
        if (woke == WAIT_OBJECT_0 + 1) {
            LetSentMessagesThrough();
        } else if (woke == WAIT_TIMEOUT) {
            EnumThreadWindows(threadId, &CloseErrorBox, 0);
        } else if (WaitForSingleObject(thread, kWorkerCheckMs) != WAIT_TIMEOUT) {
            return;  // the queue cannot be watched: short waits, messages let through between
        } else {
            LetSentMessagesThrough();
            EnumThreadWindows(threadId, &CloseErrorBox, 0);
        }
    }
}

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
    PurgeComm(port, m_bWriteStalled ? kPurgeOnStalledClose : kPurgeOnClose);
    // The mask change wakes a worker that waits for port events; the worker closes the port
    // only after it has seen the stop flag, so the port is still ours for both calls.
    SetCommMask(port, kStopMask);
    m_bStopThread = TRUE;
    if (m_hStopEvent != nullptr) SetEvent(m_hStopEvent);
    if (m_hWorker != nullptr) {
        WaitForWorker(m_hWorker, m_dwThreadId);
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
    const DWORD length = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    if (!WriteFile(port, text, length, &written, &m_ovWrite)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            ClearPortErrors(port);
            return 0;
        }
        const WriteEnd end = FinishWrite(
            port, m_ovWrite, m_bWriteStalled ? kStalledWriteTimeoutMs : kWriteTimeoutMs);
        if (end != WriteEnd::kTaken) ClearPortErrors(port);
        m_bWriteStalled = end == WriteEnd::kStalled;
    } else {
        m_bWriteStalled = false;
    }
    AppendLog(text);
    return 1;
}
