#include "app/rotator_app.h"

#include "app/port_number.h"
#include "ui/rotator_dlg.h"

namespace app {

BEGIN_MESSAGE_MAP(CRotatorApp, framework::CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

void CPortCommandLineInfo::ParseParam(const char* pszParam, BOOL, BOOL) {
    m_nComPort = app::PortFromArgument(pszParam ? pszParam : "");
}

BOOL CRotatorApp::InitInstance() {
    Enable3dControlsStatic();
    ui::CRotatorDlg dlg;
    {
        CPortCommandLineInfo cmdInfo;
        ParseCommandLine(cmdInfo);
        dlg.m_nPort = cmdInfo.m_nComPort;
        m_pMainWnd = &dlg;
        dlg.DoModal();
    }
    m_pMainWnd = nullptr;
    // No message loop of our own: the process ends when the window has closed.
    return FALSE;
}

}  // namespace app
