#pragma once
#include <windows.h>

// Every program the application starts goes through here. Tests replace the launch with a
// recorder so that nothing real is started.
using ShellExecuteSeam = HINSTANCE (*)(HWND owner, const char* verb, const char* file,
                                       const char* parameters, const char* directory,
                                       int showCommand);

HINSTANCE AfxShellExecute(HWND owner, const char* verb, const char* file, const char* parameters,
                          const char* directory, int showCommand);

// Installs a replacement for the real launch; null restores the real one. Returns the previous.
ShellExecuteSeam SetShellExecuteSeam(ShellExecuteSeam seam);
