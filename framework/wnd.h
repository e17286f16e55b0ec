#pragma once
#include <windows.h>

#include "framework/object.h"

// A window object joined to its window handle. Windows are created with the procedure of
// their class (often DefWindowProc) and subclassed during creation, so that every message,
// WM_NCCREATE included, reaches the object's handlers; the handlers' default processing is the
// class's own procedure.
class CWnd : public CObject {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    // Destroys a window that still exists, so that no message can reach a dead object.
    ~CWnd() override;

    static CWnd* FromHandle(HWND hwnd);

    // Lets PreCreateWindow adjust cs, then creates the window; FALSE when either fails.
    BOOL CreateEx(CREATESTRUCTA cs);
    BOOL DestroyWindow();
    BOOL ShowWindow(int showCommand);
    void UpdateWindow();
    void Invalidate(BOOL erase = TRUE);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
    BOOL KillTimer(UINT_PTR id);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Lets the window take a message before the loop dispatches it; TRUE when it did.
    virtual BOOL PreTranslateMessage(MSG* msg);

    HWND m_hWnd = nullptr;

protected:
    virtual BOOL PreCreateWindow(CREATESTRUCTA& cs);
    // Routes each message to its handler; overrides add messages of their own.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The class procedure's processing of the message being handled.
    LRESULT Default();

    virtual int OnCreate(CREATESTRUCTA* cs);
    virtual void OnDestroy();
    virtual void OnTimer(UINT_PTR id);
    virtual void OnClose();
    virtual void OnPaint();
    virtual void OnSize(UINT type, int cx, int cy);
    // A menu, accelerator or control command; TRUE when handled.
    virtual BOOL OnCommand(UINT id);
    // Runs after the window is gone; objects that own themselves delete themselves here.
    virtual void PostNcDestroy();

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK CreationHook(int, WPARAM, LPARAM);
    void Attach(HWND hwnd);
    void Detach();

    WNDPROC m_classProc = nullptr;
};

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Registers a window class unless this module has already registered one of that name.
BOOL AfxRegisterClass(const WNDCLASSA& windowClass);
// Registers a framework window class of this module: default procedure, arrow cursor,
// window-coloured background, the given class style.
BOOL AfxRegisterDefaultClass(const char* className, UINT style);

// The module whose resources the framework loads.
HINSTANCE AfxGetInstanceHandle();
