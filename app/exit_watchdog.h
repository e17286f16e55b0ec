#pragma once
#include <windows.h>

// How long the exit may take from the user's Exit or WM_CLOSE: the shutdown notice's wait of
// at most 3 s, the rest of a healthy exit (well under a second) and a margin, so that the
// process is gone within 5 s.
constexpr DWORD kExitBoundMs = 4500;
// How long the rest of the exit may take once the main window has gone.
constexpr DWORD kExitRestBoundMs = 1000;

// Ends the process (exit code 0, the end the user asked for) once the exit has taken its bound:
// a call into a client that never returns (a frozen client, a proxy COM lets go of with a call
// into its client) must not keep the server running. Disarmed when it goes, so that only a
// process that is ending is ended.
class ExitWatchdog {
public:
    ExitWatchdog() = default;
    ~ExitWatchdog();
    ExitWatchdog(const ExitWatchdog&) = delete;
    ExitWatchdog& operator=(const ExitWatchdog&) = delete;

    // Starts the countdown; a later call changes nothing.
    void Arm(DWORD boundMs = kExitBoundMs);
    // Once armed, brings the end forward to `boundMs` from now if that is sooner.
    void Shorten(DWORD boundMs = kExitRestBoundMs);

private:
    HANDLE m_timer = nullptr;
    ULONGLONG m_deadline = 0;
};
