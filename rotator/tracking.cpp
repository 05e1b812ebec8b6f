// Automatic tracking: the prediction program's position becomes rotator commands; the poll
// timer keeps the position display fresh and retries the DDE conversation.
#include "rotator/protocol.h"
#include "rotator/tracking_rule.h"
#include "ui/rotator_dlg.h"

void CRotatorDlg::OnTrackingUpdate() {
    if (kelma::ShowsTrackingPosition(m_link.m_nAzimuth, m_link.m_nElevation)) {
        // The elevation as received, before the tracking step turns a negative one into 0.
        ShowText(IDC_DDE_AZ, kelma::FormatAngle(m_link.m_nAzimuth).c_str());
        ShowText(IDC_DDE_EL, kelma::FormatAngle(m_link.m_nElevation).c_str());
        SendTracking();
    }
    ShowText(IDC_SAT_NAME, m_link.m_szSatellite);
}

void CRotatorDlg::SendTracking() {
    const kelma::TrackingDecision decision =
        kelma::DecideTracking(m_link.m_nAzimuth, m_link.m_nElevation, m_nLastAzimuth,
                              m_nLastElevation, m_bManual != FALSE);
    // The last-commanded fields are set before each write, whatever the write reports.
    if (decision.azimuth) {
        m_nLastAzimuth = *decision.azimuth;
        SendCommand(kelma::TrackingCommand(kelma::Axis::kAzimuth, m_nLastAzimuth).c_str());
        // Gives the controller time to take the azimuth before an elevation command follows.
        Sleep(kelma::kAzimuthSettleMs);
    }
    if (decision.elevation) {
        m_link.m_nElevation = *decision.elevation;  // a negative elevation goes out as 0
        m_nLastElevation = *decision.elevation;
        SendCommand(kelma::TrackingCommand(kelma::Axis::kElevation, m_nLastElevation).c_str());
    }
}

void CRotatorDlg::OnTimer(UINT_PTR timerId) {
    if (timerId == ID_ABOUT_TIMER) {
        OnDeferredAbout();
        return;
    }
    // Wine's DDE library never reports a partner that went away; find one here.
    m_link.CheckPartner();
    const kelma::Axis axis = g_bPollAzimuth ? kelma::Axis::kAzimuth : kelma::Axis::kElevation;
    if (g_bPollAzimuth && m_link.m_hConv == nullptr) m_link.Connect();
    SendCommand(kelma::PollCommand(axis).c_str());
    g_bPollAzimuth = !g_bPollAzimuth;
    Default();
}
