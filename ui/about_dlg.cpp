#include "ui/about_dlg.h"

#include "ui/rotator_dlg.h"

namespace ui {

BEGIN_MESSAGE_MAP(CAboutDlg, framework::CDialog)
END_MESSAGE_MAP()

void CAboutDlg::DoDataExchange(framework::CDataExchange*) {}

namespace {
// How often a waiting About request looks whether the DDE link's Connect has returned.
constexpr UINT kDeferredAboutCheckMs = 50;
}  // namespace

// A double-click on the window's own surface (not on an enabled control) opens the box; its
// modal loop keeps dispatching this window's timer, serial and DDE messages meanwhile
// (ui/about_request.h says when).
void CRotatorDlg::OnLButtonDblClk(UINT, POINT) {
    const ui::AboutAction action = m_about.OnDoubleClick(m_link.InConnect());
    if (action == ui::AboutAction::kWait)
        SetTimer(m_hWnd, ID_ABOUT_TIMER, kDeferredAboutCheckMs, nullptr);
    if (action == ui::AboutAction::kShow) ShowAbout();
    Default();
}

void CRotatorDlg::OnDeferredAbout() {
    const ui::AboutAction action = m_about.OnTick(m_link.InConnect());
    if (action == ui::AboutAction::kWait) return;
    KillTimer(m_hWnd, ID_ABOUT_TIMER);
    if (action == ui::AboutAction::kShow) ShowAbout();
}

void CRotatorDlg::ShowAbout() {
    m_about.Opened();
    CAboutDlg about;
    about.DoModal();
    m_about.Closed();
}

}  // namespace ui
