#pragma once
#include <windows.h>

// How long the shutdown notice waits, in all, for the clients to take it.
constexpr DWORD kShutdownNoticeWaitMs = 3000;

// Sends IOPCShutdown::ShutdownRequest to the connected sink of every server object in the
// server table, with a reason in the object's locale, before the server ends. A sink in another
// apartment is called from a thread of its own, so that a frozen client holds up no other;
// meanwhile the main thread serves the calls the clients make from their notice (Unadvise,
// Release) and waits at most `waitMs` in all, then goes on and leaves a frozen client's call
// behind. A sink in this apartment is called directly. Returns how many sinks answered.
int NotifyClientsOfShutdown(DWORD waitMs = kShutdownNoticeWaitMs);

// True while a notice is still in a client's call (a frozen client). Ending COM must then be
// left out: it lets go of every client's proxy with a call into that client, and under Wine
// such a call cannot be given up, so the exit would wait for the frozen client for ever.
bool ShutdownNoticePending();

// The reason the notice gives in `locale`: Chinese for the Chinese locale, English otherwise.
const wchar_t* ShutdownReason(LCID locale);
