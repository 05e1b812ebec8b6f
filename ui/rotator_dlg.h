// The operator window. It owns the program's parts while it runs: the serial link to the
// controller (serial/), the DDE tracking link (dde/) and the rotator's state and decisions
// (rotator/), and wires their events to its controls. All of its handlers run on the UI thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dde/tracking_link.h"
#include "framework/framework.h"
#include "rotator/tracking_state.h"
#include "serial/serial_link.h"
#include "ui/about_request.h"
#include "ui/resource.h"

namespace ui {

class CRotatorDlg : public framework::CDialog {
public:
    explicit CRotatorDlg(framework::CWnd* parent = nullptr);
    ~CRotatorDlg() override;

    // Serial port control.
    void EnumeratePorts();
    int OpenPort(int port);
    int ClosePort();
    int SendCommand(const char* text);

    // Traffic log pane.
    void AppendLog(const char* text);
    // Appends each text in turn, writing the pane once.
    void AppendLogTexts(const std::vector<std::string>& texts);

    // Automatic tracking.
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
    void DoDataExchange(framework::CDataExchange* pDX) override;

    serial::SerialLink m_serial;        // the COM port and its receive ring
    rotator::TrackingState m_tracking;  // last commanded angles, manual control, poll turn
    dde::CTrackingLink m_link;
    int m_nPort = 0;  // the port chosen in the list; 0 while none could be found
    HICON m_hIcon;

private:
    void ShowAbout();
    void LogPortText(const char* format);
    void ShowChosenPort(HWND combo);

    ui::AboutRequests m_about;

    DECLARE_MESSAGE_MAP()
};

}  // namespace ui
