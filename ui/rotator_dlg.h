// The operator window. It owns the state of the whole program while it runs: the COM port and
// its receive worker, the receive ring, the last commanded angles, the manual-control switch
// and the DDE link. Its handlers live in the folders of their subsystems (serial/, rotator/,
// dde/, ui/).
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "dde/tracking_link.h"
#include "serial/command_write.h"
#include "serial/port_session.h"
#include "framework/framework.h"
#include "ui/resource.h"

// Guards m_rxRing, m_pRxWrite and m_pRxRead; the program's only lock.
extern CRITICAL_SECTION g_csRxRing;
// Which poll the next timer tick sends: FALSE the elevation, TRUE the azimuth.
extern BOOL g_bPollAzimuth;

constexpr int kRxRingSize = 100;

class CRotatorDlg : public CDialog {
public:
    explicit CRotatorDlg(CWnd* parent = nullptr);
    ~CRotatorDlg() override;

    // Serial port control (serial/).
    void EnumeratePorts();
    int OpenPort(int port);
    int ClosePort();
    int SendCommand(const char* text);
    static DWORD WINAPI ReceiveThread(LPVOID dialog);

    // Traffic log pane (ui/).
    void AppendLog(const char* text);
    // Appends each text in turn, writing the pane once.
    void AppendLogTexts(const std::vector<std::string>& texts);

    // Automatic tracking (rotator/).
    void SendTracking();

    // Shows a text in one of the window's displays (static controls), leaving a display that
    // already shows it untouched.
    void ShowText(int controlId, const char* text);

    // Message handlers.
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnSetAzimuth();
    void OnSetElevation();
    void OnManualControl();
    void OnTimer(UINT_PTR timerId);
    void OnSelectPort();
    void OnStopElevation();
    void OnStopAzimuth();
    void OnLButtonDblClk(UINT flags, POINT point);
    void OnDeferredAbout();  // ID_ABOUT_TIMER
    void OnSerialData();
    void OnTrackingUpdate();

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

    // Members, in this order.
    // The record used for every write, with the bytes being written: on the heap, so that a
    // write the driver never gives back can keep it (serial/port_session.h).
    std::unique_ptr<WriteRecord> m_ovWrite;
    char* m_pRxWrite;  // written by the receive worker only, under g_csRxRing
    char* m_pRxRead;   // written by the UI thread only, under g_csRxRing
    char m_rxRing[kRxRingSize];
    int m_nLastElevation;
    int m_nLastAzimuth;
    BOOL m_bManual;
    CTrackingLink m_link;
    // Shared with the receive worker without a lock: each is one word read and written whole.
    std::atomic<BOOL> m_bStopThread;
    std::atomic<DWORD> m_dwThreadId;
    int m_nPort;
    std::atomic<HANDLE> m_hPort;
    HICON m_hIcon;

    // --- serial (serial/): implementation state beyond the members above ---
    // All of these are written by the UI thread only.
    HANDLE m_hWorker = nullptr;         // the receive worker's thread, waited for on close
    PortSession* m_pSession = nullptr;  // the open port, shared with its worker
    bool m_bClosing = false;            // ClosePort is waiting for the worker to end
    kelma::CommandWriter m_writer;      // the write bound, from one write to the next

private:
    void ShowAbout();
    int StartReceiveWorker();
    bool StopReceiveWorker();
    void LogPortText(const char* format);
    void ShowChosenPort(HWND combo);

public:
    // --- end serial ---

    DECLARE_MESSAGE_MAP()
};
