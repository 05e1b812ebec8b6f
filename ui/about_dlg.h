// The About box: names the program, what it connects, and its version.
#pragma once

#include "framework/framework.h"
#include "ui/resource.h"

namespace ui {

class CAboutDlg : public framework::CDialog {
public:
    explicit CAboutDlg(framework::CWnd* parent = nullptr)
        : framework::CDialog(IDD_ABOUTBOX, parent) {}

    void DoDataExchange(framework::CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};

}  // namespace ui
