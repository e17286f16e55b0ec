#pragma once
// Starting the programs built beside this one (the Viewer, opcreg, a role of this program).
#include <windows.h>

#include <string>

// The folder holding this program, with a backslash.
std::string ProgramFolder();

// Starts a program of this folder; its process handle, null when it cannot be started.
HANDLE StartBesideThis(const std::string& program, const std::string& arguments);
