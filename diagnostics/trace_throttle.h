#pragma once
#include <windows.h>

// Lets a trace point that may fire every poll cycle write at most one line every so often; the
// times it fired in between are counted and told with the next line, so that one busy point
// cannot push every other event out of the trace's two files. Used by one thread.
class TraceThrottle {
public:
    explicit TraceThrottle(ULONGLONG everyMs) : m_everyMs(everyMs) {}

    // True when a line is due at `now` (a GetTickCount64 time); `skipped` receives how many
    // times the point fired without a line since the last one. False counts this time as one.
    bool Due(ULONGLONG now, unsigned& skipped);

private:
    ULONGLONG m_everyMs;
    ULONGLONG m_lastLine = 0;
    bool m_anyLine = false;
    unsigned m_skipped = 0;
};
