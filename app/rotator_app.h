// The application object and the command-line object.
#pragma once

#include "framework/framework.h"

namespace app {

class CPortCommandLineInfo : public framework::CCommandLineInfo {
public:
    // Every argument, switch or not, sets the port; the last one decides.
    void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) override;

    int m_nComPort = 1;
};

class CRotatorApp : public framework::CWinApp {
public:
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

}  // namespace app
