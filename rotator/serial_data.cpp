// Received characters: lines out of the receive ring, position reports into the displays,
// every line into the traffic log.
#include <string>
#include <vector>

#include "rotator/line_assembly.h"
#include "rotator/protocol.h"
#include "ui/rotator_dlg.h"

void CRotatorDlg::OnSerialData() {
    // One line per walk; the lock is held only while walking, never while showing or logging.
    // All of a notification's lines are shown and logged with one write of each control they
    // change: under Wine each write of a control's text costs many server round trips, and a
    // window that spends longer on a block than the line takes to bring it falls behind.
    std::string positions[2];  // the newest report's text for azimuth and elevation
    std::vector<std::string> logged;
    for (;;) {
        kelma::LineWalk walk;
        m_serial.TakeReceived([&](const char* ring, size_t size, size_t read, size_t write) {
            walk = kelma::WalkOneLine(ring, size, read, write);
            return walk.complete ? walk.nextRead : read;
        });
        if (!walk.complete) break;

        if (const auto report = kelma::ParsePositionReport(walk.text))
            positions[report->axis == kelma::Axis::kAzimuth ? 0 : 1] =
                kelma::FormatPositionDisplay(*report);
        if (walk.length > 0) {
            logged.emplace_back(walk.text);
            logged.emplace_back("\r\n");
        }
    }
    if (!positions[0].empty()) ShowText(IDC_POS_AZ, positions[0].c_str());
    if (!positions[1].empty()) ShowText(IDC_POS_EL, positions[1].c_str());
    if (!logged.empty()) AppendLogTexts(logged);
}
