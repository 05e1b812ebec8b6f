#include "ui/rotator_dlg.h"

void CRotatorDlg::OnTrackingUpdate() {}
void CRotatorDlg::SendTracking() {}
void CRotatorDlg::OnTimer(UINT_PTR) {
    Default();
}
