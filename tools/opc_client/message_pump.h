#pragma once
// The server's calls to the client's sinks arrive as messages of the client's thread.
#include <windows.h>

#include <functional>

// Handles this thread's messages (and so the server's callbacks) until done() holds or
// `timeoutMs` passes; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
