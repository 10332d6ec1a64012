#include "ui/about_dialog.h"

#include "ui/resource.h"

namespace horavel {

CAboutDlg::CAboutDlg() : framework::CDialog(IDD_ABOUT) {}

CAboutDlg::~CAboutDlg() = default;

} // namespace horavel
