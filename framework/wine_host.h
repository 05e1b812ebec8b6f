// What the program does differently under Wine than under Windows. The program works around a
// few of Wine's differences (its DDE library, the cost of its visual theme), and only under Wine.
#pragma once

namespace framework {

bool RunningOnWine();

// Under Wine, draws the process's scroll bars without the visual theme; elsewhere does nothing.
void DrawScrollBarsUnthemedUnderWine();

}  // namespace framework
