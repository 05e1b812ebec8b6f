#include "ui/about_dlg.h"

#include "ui/rotator_dlg.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

void CAboutDlg::DoDataExchange(CDataExchange*) {}

namespace {
// How often a deferred About box looks whether the DDE link's Connect has returned.
constexpr UINT kDeferredAboutCheckMs = 50;
}  // namespace

// A double-click on the window's own surface (not on an enabled control) opens the box; its
// modal loop keeps dispatching this window's timer, serial and DDE messages meanwhile. Windows'
// DDE library lets input through while Connect waits for the prediction program: a box opened
// then would run Connect's rest nested in its loop, so it waits for Connect to return.
void CRotatorDlg::OnLButtonDblClk(UINT, POINT) {
    if (m_link.InConnect()) {
        SetTimer(m_hWnd, ID_ABOUT_TIMER, kDeferredAboutCheckMs, nullptr);
    } else {
        ShowAbout();
    }
    Default();
}

void CRotatorDlg::OnDeferredAbout() {
    if (m_link.InConnect()) return;
    KillTimer(m_hWnd, ID_ABOUT_TIMER);
    ShowAbout();
}

void CRotatorDlg::ShowAbout() {
    CAboutDlg about;
    about.DoModal();
}
