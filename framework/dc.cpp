#include "framework/dc.h"

BOOL CDC::TextOut(int x, int y, const std::string& text)
{
    return ::TextOutA(m_hDC, x, y, text.data(), static_cast<int>(text.size()));
}

BOOL CDC::GetTextMetrics(TEXTMETRICA* metrics) const
{
    return ::GetTextMetricsA(m_hDC, metrics);
}
