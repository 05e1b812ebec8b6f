#include "ui/about_dlg.h"

#include "ui/rotator_dlg.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

void CAboutDlg::DoDataExchange(CDataExchange*) {}

// A double-click on the window's own surface (not on an enabled control) opens the box; its
// modal loop keeps dispatching this window's timer, serial and DDE messages meanwhile.
void CRotatorDlg::OnLButtonDblClk(UINT, POINT) {
    CAboutDlg about;
    about.DoModal();
    Default();
}
