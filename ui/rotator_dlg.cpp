#include "ui/rotator_dlg.h"

#include <cstring>

#include "framework/wine_host.h"

namespace ui {

namespace {
constexpr int kPollPeriodMs = 2000;
constexpr char kPortNotChangedText[] = "Port not changed, try again\r\n";
}  // namespace

BEGIN_MESSAGE_MAP(CRotatorDlg, framework::CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_AZ_SET, OnSetAzimuth)
ON_BN_CLICKED(IDC_EL_SET, OnSetElevation)
ON_BN_CLICKED(IDC_MANUAL, OnManualControl)
ON_WM_TIMER()
ON_CBN_SELCHANGE(IDC_PORT, OnSelectPort)
ON_BN_CLICKED(IDC_EL_STOP, OnStopElevation)
ON_BN_CLICKED(IDC_AZ_STOP, OnStopAzimuth)
ON_WM_LBUTTONDBLCLK()
ON_COMMAND(ID_SERIAL_DATA, OnSerialData)
ON_COMMAND(ID_TRACKING_UPDATE, OnTrackingUpdate)
END_MESSAGE_MAP()

CRotatorDlg::CRotatorDlg(framework::CWnd* parent) : framework::CDialog(IDD_ROTATOR_DIALOG, parent) {
    m_hIcon = LoadIconA(framework::AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CRotatorDlg::~CRotatorDlg() {
    // The port's threads notify this window until they end, so they are ended (or no longer
    // reach it) before the object goes, however the window was closed.
    ClosePort();
    // The link's last notification must find no window: a window still open here (a modeless
    // run) would dispatch it to handlers of a half-destroyed object.
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

void CRotatorDlg::DoDataExchange(framework::CDataExchange* pDX) {
    framework::CDialog::DoDataExchange(pDX);
}

BOOL CRotatorDlg::OnInitDialog() {
    framework::CDialog::OnInitDialog();
    framework::DrawScrollBarsUnthemedUnderWine();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    EnumeratePorts();
    if (m_nPort == 0) {
        MessageBoxA(m_hWnd, "No available COM ports detected", "Error", MB_OK);
        // The modal run ends before the window shows, and the program through its normal
        // exit, so that static objects are destroyed.
        EndDialog(IDABORT);
        return TRUE;
    }
    OpenPort(m_nPort);

    // The link notifies this window from its first Connect on.
    m_link.m_hNotifyWnd = m_hWnd;
    m_link.Connect();

    SetTimer(m_hWnd, ID_POLL_TIMER, kPollPeriodMs, nullptr);
    return TRUE;
}

void CRotatorDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) {
        Default();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
}

HCURSOR CRotatorDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

// The displays mostly show the same value again (an elevation that has not moved a whole degree,
// the same satellite, a rotator standing still), and those are left alone. A changed text is
// stored and the display repainted with the window's next paint: a static control's own text
// change would paint it at once, and under Wine that paint costs a quarter of a millisecond of
// round trips to the X server, on the way from a new prediction to its command.
void CRotatorDlg::ShowText(int controlId, const char* text) {
    HWND control = GetDlgItem(controlId);
    char shown[64] = {};  // longer than any display's text; a longer one is always written
    GetWindowTextA(control, shown, sizeof(shown));
    if (strcmp(shown, text) == 0) return;
    DefWindowProcA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    InvalidateRect(control, nullptr, TRUE);
}

void CRotatorDlg::OnSelectPort() {
    HWND combo = GetDlgItem(IDC_PORT);
    if (m_link.InConnect()) {
        // Nested in the DDE link's Connect: the port stays; the list shows it again.
        ShowChosenPort(combo);
        AppendLog(kPortNotChangedText);
        return;
    }
    const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;  // nothing chosen from the list
    const int port = static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, index, 0));
    if (port == m_nPort) return;
    ClosePort();
    OpenPort(port);
    m_nPort = port;
}

void CRotatorDlg::ShowChosenPort(HWND combo) {
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        if (SendMessageA(combo, CB_GETITEMDATA, i, 0) == m_nPort)
            SendMessageA(combo, CB_SETCURSEL, i, 0);
}

void CRotatorDlg::OnManualControl() {
    const bool manual = SendMessageA(GetDlgItem(IDC_MANUAL), BM_GETCHECK, 0, 0) == BST_CHECKED;
    m_tracking.m_bManual = manual;
    EnableWindow(GetDlgItem(IDC_AZ_SET), manual);
    EnableWindow(GetDlgItem(IDC_EL_SET), manual);
    if (!manual) SendTracking();
}

}  // namespace ui
