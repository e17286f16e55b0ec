#pragma once
#include <windows.h>

// Every message box of the program goes through here, captioned with the application title.
// Tests replace the box with a recorder so that nothing ever waits for a click.
int AfxMessageBox(const char* text, UINT type = MB_OK);

using MessageBoxSeam = int (*)(const char* caption, const char* text, UINT type);
// Installs a replacement for the real box; null restores the real one. Returns the previous.
MessageBoxSeam SetMessageBoxSeam(MessageBoxSeam seam);

// The caption of every box; the application object sets it from its title string.
void AfxSetAppTitle(const char* title);
