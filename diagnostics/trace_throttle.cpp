#include "diagnostics/trace_throttle.h"

bool TraceThrottle::Due(ULONGLONG now, unsigned& skipped)
{
    if (m_anyLine && now - m_lastLine < m_everyMs) {
        ++m_skipped;
        return false;
    }
    skipped = m_skipped;
    m_skipped = 0;
    m_lastLine = now;
    m_anyLine = true;
    return true;
}
