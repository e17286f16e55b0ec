#pragma once
#include <cstdint>

// The project as found at start-up. Everything here is read once and kept for the whole run.
constexpr int kPathField = 256;
constexpr int kHeaderSize = 20;
constexpr int kViewerConfigSize = 284;  // bytes 20..303 of PXVIEWER.CFG
constexpr int kMaxTagCount = 10000;

extern char g_systemProgramDirectory[kPathField];
extern char g_projectDirectory[kPathField];  // ends with a backslash
extern char g_headerMagic[kHeaderSize];      // "Parhelionix V7.11" and three NULs
extern int32_t g_tagCount;                   // 26 until TAGNAME.DB has been read
extern uint8_t g_viewerConfig[kViewerConfigSize];

// The poll period in milliseconds lives inside the configuration block (file offset 268).
int32_t& PollPeriod();
// The poll period as the poll timer runs it, clamped to 55 .. 3600000 ms.
int32_t PollTimerPeriod();

// Sets the values the application object's constructor sets: tag count 26, the header magic.
void ResetProjectFiles();

// Finds the system program directory and, through PXMAKER.DAT, the project directory.
// Shows "应用程序目录不存在!" and returns false when the project cannot be found.
bool LookupProject();

// Reads PXVIEWER.CFG, first writing the default header and block when it is missing or foreign.
void LoadViewerConfiguration();

// Reads the tag count from TAGNAME.DB; shows the damaged-database message and returns false
// when its header is foreign or the count is negative. Counts above 10000 are clipped.
bool CheckTagDatabase();
