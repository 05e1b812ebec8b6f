// The window's handlers of the rotator: the operator's Set and Stop, the controller's lines,
// the prediction program's position and the poll timer. The decisions are the rotator state's
// (rotator/tracking_state.h); these read the controls and the link and write the commands.
#include <string>

#include "rotator/line_assembly.h"
#include "ui/rotator_dlg.h"

namespace ui {

namespace {

// The text typed in a Set box, at most its first 19 characters.
std::string TypedText(HWND box) {
    char text[rotator::kSetTextReadCount] = {};
    GetWindowTextA(box, text, sizeof(text));
    return text;
}

}  // namespace

void CRotatorDlg::OnSetAzimuth() {
    SendCommand(m_tracking.SetAzimuth(TypedText(GetDlgItem(IDC_AZ_EDIT))).c_str());
}

void CRotatorDlg::OnSetElevation() {
    SendCommand(m_tracking.SetElevation(TypedText(GetDlgItem(IDC_EL_EDIT))).c_str());
}

void CRotatorDlg::OnStopAzimuth() {
    SendCommand(rotator::StopCommand(rotator::Axis::kAzimuth).c_str());
}

void CRotatorDlg::OnStopElevation() {
    SendCommand(rotator::StopCommand(rotator::Axis::kElevation).c_str());
}

void CRotatorDlg::OnSerialData() {
    // One line per walk; the ring's lock is held only while walking, never while showing or
    // logging. All of a notification's lines are shown and logged with one write of each control
    // they change: under Wine each write of a control's text costs many server round trips, and
    // a window that spends longer on a block than the line takes to bring it falls behind.
    rotator::ReceivedLines lines;
    for (;;) {
        rotator::LineWalk walk;
        m_serial.TakeReceived([&](const char* ring, size_t size, size_t read, size_t write) {
            walk = rotator::WalkOneLine(ring, size, read, write);
            return walk.complete ? walk.nextRead : read;
        });
        if (!walk.complete) break;
        lines.Add(walk.text, walk.length);
    }
    if (!lines.azimuthShown.empty()) ShowText(IDC_POS_AZ, lines.azimuthShown.c_str());
    if (!lines.elevationShown.empty()) ShowText(IDC_POS_EL, lines.elevationShown.c_str());
    if (!lines.logged.empty()) AppendLogTexts(lines.logged);
}

void CRotatorDlg::OnTrackingUpdate() {
    if (rotator::ShowsTrackingPosition(m_link.m_nAzimuth, m_link.m_nElevation)) {
        // The elevation as received, before the tracking step turns a negative one into 0.
        ShowText(IDC_DDE_AZ, rotator::FormatAngle(m_link.m_nAzimuth).c_str());
        ShowText(IDC_DDE_EL, rotator::FormatAngle(m_link.m_nElevation).c_str());
        SendTracking();
    }
    ShowText(IDC_SAT_NAME, m_link.m_szSatellite);
}

void CRotatorDlg::SendTracking() {
    const rotator::TrackingCommands commands =
        m_tracking.Track(m_link.m_nAzimuth, m_link.m_nElevation);
    if (commands.azimuth) {
        SendCommand(commands.azimuth->c_str());
        // Gives the controller time to take the azimuth before an elevation command follows.
        Sleep(rotator::kAzimuthSettleMs);
    }
    if (commands.elevation) {
        m_link.m_nElevation = commands.elevationSent;
        SendCommand(commands.elevation->c_str());
    }
}

void CRotatorDlg::OnTimer(UINT_PTR timerId) {
    if (timerId == ID_ABOUT_TIMER) {
        OnDeferredAbout();
        return;
    }
    // Wine's DDE library never reports a partner that went away; find one here.
    m_link.CheckPartner();
    const rotator::PollTick tick = m_tracking.NextPoll(m_link.m_hConv != nullptr);
    if (tick.reconnect) m_link.Connect();
    SendCommand(tick.poll.c_str());
    Default();
}

}  // namespace ui
