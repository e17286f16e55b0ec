#pragma once
// Command and resource identifiers the framework reserves; plain #defines so that resource
// scripts can include this header too.

#define AFX_IDS_APP_TITLE 0xE000
#define ID_FILE_NEW 0xE100
#define ID_FILE_OPEN 0xE101
#define ID_APP_ABOUT 0xE140
#define ID_APP_EXIT 0xE141
// The child identifier of a frame's view.
#define AFX_IDW_PANE_FIRST 0xE900
