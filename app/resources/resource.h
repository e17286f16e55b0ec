#pragma once
// Resource identifiers of OPCServer.exe; plain #defines for the resource compiler too.

#define IDD_ABOUTBOX 100
// Menu, accelerators, icon and document string of the main frame.
#define IDR_MAINFRAME 128
#define IDR_TRAYMENU 134
