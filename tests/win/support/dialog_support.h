// Helpers for tests that drive the real operator window without a person at the keyboard:
// the window is created modelessly from its template and the test pumps its messages.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "ui/rotator_dlg.h"

namespace testing_support {

// Dispatches this thread's messages (dialog keys included) for the given time.
void PumpMessages(DWORD milliseconds);
// Dispatches messages until done() holds or the time-out passes; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);

// Builds the operator window with the given command-line port and creates it modelessly, as
// the start-up does (OnInitDialog included). The application object's main window is set to
// it. The caller owns it; destroying it ends the window.
std::unique_ptr<ui::CRotatorDlg> OpenRotatorDialog(int port);

// Sends the click of a push button or check box the way the dialog manager does.
void ClickButton(HWND dialog, int id);

}  // namespace testing_support
