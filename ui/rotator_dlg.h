// The operator window. It owns the state of the whole program while it runs: the COM port and
// its receive worker, the receive ring, the last commanded angles, the manual-control switch
// and the DDE link. Its handlers live in the folders of their subsystems (serial/, rotator/,
// dde/, ui/).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dde/tracking_link.h"
#include "framework/framework.h"
#include "serial/serial_link.h"
#include "ui/resource.h"

// Which poll the next timer tick sends: FALSE the elevation, TRUE the azimuth.
extern BOOL g_bPollAzimuth;

class CRotatorDlg : public CDialog {
public:
    explicit CRotatorDlg(CWnd* parent = nullptr);
    ~CRotatorDlg() override;

    // Serial port control (serial/).
    void EnumeratePorts();
    int OpenPort(int port);
    int ClosePort();
    int SendCommand(const char* text);

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

    // Members.
    kelma::SerialLink m_serial;  // the COM port and its receive ring
    int m_nLastElevation;
    int m_nLastAzimuth;
    BOOL m_bManual;
    CTrackingLink m_link;
    int m_nPort;
    HICON m_hIcon;

private:
    void ShowAbout();
    void LogPortText(const char* format);
    void ShowChosenPort(HWND combo);

public:
    DECLARE_MESSAGE_MAP()
};
