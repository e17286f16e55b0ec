#include "app/exit_watchdog.h"

#include "diagnostics/support_trace.h"

namespace {

void CALLBACK EndProcess(void*, BOOLEAN)
{
    // Never waits for the trace: the main thread may be the one that hangs, inside it.
    SUPPORT_TRACE_UNLESS_BUSY(TraceClient{}, S_OK,
                              "exit: took its bound, the process is ended by force");
    TerminateProcess(GetCurrentProcess(), 0);
}

}  // namespace

ExitWatchdog::~ExitWatchdog()
{
    // Returns at once; a countdown that has already fired has ended the process anyway.
    if (m_timer) DeleteTimerQueueTimer(nullptr, m_timer, nullptr);
}

void ExitWatchdog::Arm(DWORD boundMs)
{
    if (m_timer) return;
    // A timer-queue thread of its own: the main thread may be the one that hangs.
    if (!CreateTimerQueueTimer(&m_timer, nullptr, EndProcess, nullptr, boundMs, 0,
                               WT_EXECUTEONLYONCE)) {
        m_timer = nullptr;
        return;
    }
    m_deadline = GetTickCount64() + boundMs;
}

void ExitWatchdog::Shorten(DWORD boundMs)
{
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    if (!m_timer || deadline >= m_deadline) return;
    if (ChangeTimerQueueTimer(nullptr, m_timer, boundMs, 0)) m_deadline = deadline;
}
