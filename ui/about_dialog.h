// The about box: dialog 5002 with the emblem, the version and a notice line.
#pragma once

#include "framework/window.h"

namespace horavel {

class CAboutDlg : public framework::CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange() override {}
};

} // namespace horavel
