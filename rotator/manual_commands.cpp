#include "ui/rotator_dlg.h"

void CRotatorDlg::OnSetAzimuth() {}
void CRotatorDlg::OnSetElevation() {}
void CRotatorDlg::OnStopAzimuth() {}
void CRotatorDlg::OnStopElevation() {}
void CRotatorDlg::OnSerialData() {}
