#pragma once
#include "framework/dialog.h"

// The About box: icon, version and copyright lines, an OK button. No handlers of its own.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
