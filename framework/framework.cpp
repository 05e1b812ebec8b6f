#include "framework/framework.h"

#include <commctrl.h>

#include <cstdlib>

#include "framework/command_line.h"

namespace framework {

namespace {

CWinApp* g_app = nullptr;  // the one application object

// Commands that the class-library dialog reaches through the application object.
constexpr UINT kIdHelp = 0xE146;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Message tables

const MessageMap* CCmdTarget::GetThisMessageMap() {
    static const MessageEntry entries[] = {
        {0, 0, 0, HandlerSig::kEnd, nullptr, nullptr, nullptr, nullptr}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

const MessageEntry* CCmdTarget::FindEntry(UINT message, WPARAM wParam) const {
    for (const MessageMap* map = GetMessageMap(); map != nullptr;
         map = map->getBaseMap ? map->getBaseMap() : nullptr) {
        for (const MessageEntry* e = map->entries; e->sig != HandlerSig::kEnd; ++e) {
            if (e->message != message) continue;
            if (message == WM_COMMAND && (e->id != LOWORD(wParam) || e->code != HIWORD(wParam)))
                continue;
            return e;
        }
    }
    return nullptr;
}

LRESULT CCmdTarget::CallHandler(const MessageEntry& entry, WPARAM wParam, LPARAM lParam) {
    switch (entry.sig) {
        case HandlerSig::kVoid:
            (this->*entry.onVoid)();
            return 0;
        case HandlerSig::kTimer:
            (this->*entry.onTimer)(wParam);
            return 0;
        case HandlerSig::kMouse: {
            const POINT point = {static_cast<short>(LOWORD(lParam)),
                                 static_cast<short>(HIWORD(lParam))};
            (this->*entry.onMouse)(static_cast<UINT>(wParam), point);
            return 0;
        }
        case HandlerSig::kQueryDragIcon:
            return reinterpret_cast<LRESULT>((this->*entry.onQueryDragIcon)());
        case HandlerSig::kEnd:
            break;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// CDialog

BEGIN_MESSAGE_MAP(CDialog, CCmdTarget)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    // A modeless dialog still open when its object goes must not call back into it.
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) {
        SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

HWND CDialog::OwnerWindow() const {
    if (m_pParentWnd != nullptr) return m_pParentWnd->m_hWnd;
    // Like the class library: the application's main window, else the active window.
    CWinApp* app = AfxGetApp();
    HWND owner = (app && app->m_pMainWnd) ? app->m_pMainWnd->m_hWnd : nullptr;
    if (owner == nullptr || !IsWindow(owner)) owner = GetActiveWindow();
    return owner;
}

INT_PTR CDialog::DoModal() {
    m_modal = true;
    const INT_PTR result =
        DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), OwnerWindow(),
                        &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_modal = false;
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::Create(CWnd* parent) {
    if (parent != nullptr) m_pParentWnd = parent;
    m_modal = false;
    HWND hwnd =
        CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), OwnerWindow(),
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

void CDialog::EndDialog(int result) {
    if (m_hWnd == nullptr) return;
    if (m_modal) {
        ::EndDialog(m_hWnd, result);
    } else {
        DestroyWindow(m_hWnd);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::CenterOverOwner() {
    RECT window;
    GetWindowRect(m_hWnd, &window);
    RECT area;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::HandleInitDialog() {
    const BOOL focusDefault = OnInitDialog();
    // The templates place the dialogs at (0, 0): centre them, as the class library does.
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) CenterOverOwner();
    return focusDefault;
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const MessageEntry* entry = FindEntry(message, wParam);
    if (entry == nullptr && message == WM_COMMAND && AfxGetApp() != nullptr) {
        // Commands the dialog does not handle go on to the application object.
        CWinApp* app = AfxGetApp();
        if (const MessageEntry* appEntry = app->FindEntry(message, wParam)) {
            app->CallHandler(*appEntry, wParam, lParam);
            return TRUE;
        }
    }
    if (entry == nullptr) return FALSE;

    const bool outerDefault = m_defaultRequested;
    m_defaultRequested = false;
    const LRESULT result = CallHandler(*entry, wParam, lParam);
    const bool wantsDefault = m_defaultRequested;
    m_defaultRequested = outerDefault;
    if (wantsDefault) return FALSE;  // let the dialog manager's default processing run
    if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
    if (IsWindow(m_hWnd)) SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        dialog->m_hWnd = hwnd;
        return dialog->HandleInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        return FALSE;
    }
    return dialog->HandleMessage(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Command line

void CCommandLineInfo::ParseParam(const char*, BOOL, BOOL) {}

// ---------------------------------------------------------------------------------------------
// CWinApp

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
    ParseCommandLine(info, GetCommandLineA());
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info, const char* commandLine) {
    for (const framework::CommandLineParam& param :
         framework::WalkArguments(framework::SplitCommandLine(commandLine ? commandLine : ""))) {
        info.ParseParam(param.text.c_str(), param.isFlag, param.isLast);
    }
}

void CWinApp::Enable3dControlsStatic() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);  // the look is cosmetic; a failure changes nothing else
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() {
    return g_app;
}

HINSTANCE AfxGetInstanceHandle() {
    if (g_app != nullptr && g_app->m_hInstance != nullptr) return g_app->m_hInstance;
    return GetModuleHandleA(nullptr);
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return 1;
    app->m_hInstance = instance;
    int status = 0;
    if (!app->InitInstance()) {
        // Returning FALSE means there is no message loop to run: go straight to the exit.
        status = app->ExitInstance();
    } else {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        status = app->ExitInstance();
    }
    return status;
}

}  // namespace framework
