#pragma once
#include "framework/wnd.h"

// A modal dialog made from a dialog resource; OK and Cancel end it.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId) : m_templateId(templateId) {}

    // Runs the dialog, owned by the main window, until it ends; returns the ending button.
    virtual INT_PTR DoModal();

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
};
