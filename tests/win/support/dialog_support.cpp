#include "tests/win/support/dialog_support.h"

#include <vector>

namespace testing_support {
namespace {

// The framework routes unhandled commands to the application object and owns the main
// window pointer, so test programs have one too.
framework::CWinApp g_testApp;

void DispatchOne(const MSG& msg) {
    HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top != nullptr && IsDialogMessageA(top, const_cast<MSG*>(&msg))) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

}  // namespace

void PumpMessages(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        // One message at a time, so that a stream of messages cannot hold the loop past its
        // time-out.
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchOne(msg);
        if (done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return done();
        const DWORD wait = timeoutMs - elapsed < 10 ? timeoutMs - elapsed : 10;
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::vector<char> text(length + 2);
    GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    return text.data();
}

std::string ItemText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

std::unique_ptr<ui::CRotatorDlg> OpenRotatorDialog(int port) {
    auto dialog = std::make_unique<ui::CRotatorDlg>();
    dialog->m_nPort = port;
    framework::AfxGetApp()->m_pMainWnd = dialog.get();
    if (!dialog->Create()) return nullptr;
    PumpMessages(50);
    return dialog;
}

void ClickButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    SendMessageA(button, BM_CLICK, 0, 0);
}

}  // namespace testing_support
