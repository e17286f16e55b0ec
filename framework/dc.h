#pragma once
#include <windows.h>

#include <string>

// A device context to draw on. Its drawing calls are virtual so that a view's painting can be
// checked call by call.
class CDC {
public:
    explicit CDC(HDC hdc) : m_hDC(hdc) {}
    virtual ~CDC() = default;

    virtual BOOL TextOut(int x, int y, const std::string& text);
    virtual BOOL GetTextMetrics(TEXTMETRICA* metrics) const;

    HDC m_hDC;
};
