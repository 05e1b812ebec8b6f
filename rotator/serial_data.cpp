// Received characters: lines out of the receive ring, position reports into the displays,
// every line into the traffic log.
#include "rotator/line_assembly.h"
#include "rotator/protocol.h"
#include "ui/rotator_dlg.h"

void CRotatorDlg::OnSerialData() {
    // One line per walk; the lock is held only while walking, never while showing or logging.
    for (;;) {
        EnterCriticalSection(&g_csRxRing);
        const size_t read = static_cast<size_t>(m_pRxRead - m_rxRing);
        const size_t write = static_cast<size_t>(m_pRxWrite - m_rxRing);
        const kelma::LineWalk walk = kelma::WalkOneLine(m_rxRing, kRxRingSize, read, write);
        if (walk.complete) m_pRxRead = m_rxRing + walk.nextRead;
        LeaveCriticalSection(&g_csRxRing);
        if (!walk.complete) return;

        if (const auto report = kelma::ParsePositionReport(walk.text)) {
            const int display = report->axis == kelma::Axis::kAzimuth ? IDC_POS_AZ : IDC_POS_EL;
            SetWindowTextA(GetDlgItem(display), kelma::FormatPositionDisplay(*report).c_str());
        }
        if (walk.length > 0) {
            AppendLog(walk.text);
            AppendLog("\r\n");
        }
    }
}
