// The operator's manual commands: Set sends the typed angle, Stop halts an axis.
#include "rotator/protocol.h"
#include "ui/rotator_dlg.h"

namespace {

// The clamped angle typed in a Set box (at most its first 19 characters).
int32_t TypedAngle(HWND box, kelma::Axis axis) {
    char text[kelma::kSetTextReadCount] = {};
    GetWindowTextA(box, text, sizeof(text));
    return kelma::ManualAngle(axis, text);
}

}  // namespace

void CRotatorDlg::OnSetAzimuth() {
    // Stored before the send: it stands as the last command even when the write fails.
    m_nLastAzimuth = TypedAngle(GetDlgItem(IDC_AZ_EDIT), kelma::Axis::kAzimuth);
    SendCommand(kelma::ManualCommand(kelma::Axis::kAzimuth, m_nLastAzimuth).c_str());
}

void CRotatorDlg::OnSetElevation() {
    m_nLastElevation = TypedAngle(GetDlgItem(IDC_EL_EDIT), kelma::Axis::kElevation);
    SendCommand(kelma::ManualCommand(kelma::Axis::kElevation, m_nLastElevation).c_str());
}

void CRotatorDlg::OnStopAzimuth() {
    SendCommand(kelma::StopCommand(kelma::Axis::kAzimuth).c_str());
}

void CRotatorDlg::OnStopElevation() {
    SendCommand(kelma::StopCommand(kelma::Axis::kElevation).c_str());
}
