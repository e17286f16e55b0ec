#include "runtime_link/project_files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/message_box.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/raw_file.h"

char g_systemProgramDirectory[kPathField];
char g_projectDirectory[kPathField];
char g_headerMagic[kHeaderSize];
int32_t g_tagCount;
uint8_t g_viewerConfig[kViewerConfigSize];

namespace {

constexpr char kMagicText[] = "Parhelionix V7.11";
constexpr size_t kComparedHeaderBytes = 12;  // "Parhelionix "; the version may differ
constexpr DWORD kBodyOffset = kHeaderSize;
constexpr size_t kPollPeriodOffset = 268 - kHeaderSize;

constexpr wchar_t kProfileSection[] = L"Parhelionix";
constexpr wchar_t kProfileKey[] = L"系统程序目录";
constexpr wchar_t kNoProjectMessage[] = L"应用程序目录不存在!";
constexpr wchar_t kDamagedDatabaseMessage[] = L"系统变量数据库被破坏，请在开发系统中重新建立!";

void ShowMessage(const wchar_t* text, UINT type)
{
    AfxMessageBox(AnsiFromWide(text).c_str(), type);
}

// Reads a file's header into a buffer that holds "File Header" beforehand, so that a file
// shorter than the compared bytes never matches.
bool HeaderMatches(RawFile& file)
{
    char header[kHeaderSize] = "File Header";
    file.ReadAt(0, header, sizeof header);
    return std::memcmp(header, g_headerMagic, kComparedHeaderBytes) == 0;
}

void PutWord(size_t fileOffset, int32_t value)
{
    std::memcpy(g_viewerConfig + (fileOffset - kHeaderSize), &value, sizeof value);
}

void PutWords(size_t fileOffset, int count, int32_t value)
{
    for (int i = 0; i < count; ++i) PutWord(fileOffset + 4 * static_cast<size_t>(i), value);
}

// The configuration block the server writes when PXVIEWER.CFG is missing or foreign.
void SetDefaultViewerConfig()
{
    std::memset(g_viewerConfig, 0, sizeof g_viewerConfig);
    std::memcpy(g_viewerConfig, "Parhelionix", 11);
    PutWord(84, 1);
    PutWord(88, 100);
    PutWord(92, 1000);
    PutWords(96, 5, 1);
    PutWord(116, 100);
    PutWord(120, 500);
    PutWord(124, 1000);
    PutWord(128, 0);
    PutWord(132, 1);
    PutWords(136, 5, 0);
    PutWords(156, 24, 1);
    PutWord(252, 2);
    PutWord(256, 5);
    PutWords(260, 2, 0);
    PutWord(268, 1000);
}

bool IsExistingDirectory(const std::string& path)
{
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int32_t& PollPeriod()
{
    return *reinterpret_cast<int32_t*>(g_viewerConfig + kPollPeriodOffset);
}

int32_t PollTimerPeriod()
{
    constexpr int32_t kMinPollPeriodMs = 55;
    constexpr int32_t kMaxPollPeriodMs = 3600000;
    return std::clamp(PollPeriod(), kMinPollPeriodMs, kMaxPollPeriodMs);
}

void ResetProjectFiles()
{
    g_tagCount = 26;
    std::memset(g_headerMagic, 0, sizeof g_headerMagic);
    std::memcpy(g_headerMagic, kMagicText, sizeof kMagicText - 1);
}

bool LookupProject()
{
    const std::string section = AnsiFromWide(kProfileSection);
    const std::string key = AnsiFromWide(kProfileKey);
    GetProfileStringA(section.c_str(), key.c_str(), "NONE", g_systemProgramDirectory,
                      sizeof g_systemProgramDirectory);
    if (std::strcmp(g_systemProgramDirectory, "NONE") == 0 &&
        GetCurrentDirectoryA(sizeof g_systemProgramDirectory, g_systemProgramDirectory) >=
            sizeof g_systemProgramDirectory)
        g_systemProgramDirectory[0] = '\0';  // too long to hold: no directory can be found

    RawFile maker(std::string(g_systemProgramDirectory) + "\\PXMAKER.DAT",
                  RawFile::Access::ReadWrite);
    if (!maker.IsOpen() || !HeaderMatches(maker)) {
        ShowMessage(kNoProjectMessage, MB_ICONEXCLAMATION);
        return false;
    }
    maker.ReadAt(kBodyOffset, g_projectDirectory, sizeof g_projectDirectory);
    g_projectDirectory[sizeof g_projectDirectory - 1] = '\0';

    // The stored directory ends with a backslash, which the existence test leaves out.
    const size_t length = std::strlen(g_projectDirectory);
    if (length < 2 || !IsExistingDirectory(std::string(g_projectDirectory, length - 1))) {
        ShowMessage(kNoProjectMessage, MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

void LoadViewerConfiguration()
{
    RawFile config(std::string(g_projectDirectory) + "PXVIEWER.CFG", RawFile::Access::ReadWrite);
    if (config.IsOpen() && HeaderMatches(config)) {
        config.ReadAt(kBodyOffset, g_viewerConfig, sizeof g_viewerConfig);
        return;
    }
    // Missing, short or foreign: replace the first 304 bytes, keeping anything beyond them.
    // A file that cannot be opened at all still leaves the defaults in effect.
    SetDefaultViewerConfig();
    if (!config.IsOpen()) return;
    config.WriteAt(0, g_headerMagic, sizeof g_headerMagic);
    config.WriteAt(kBodyOffset, g_viewerConfig, sizeof g_viewerConfig);
}

bool CheckTagDatabase()
{
    RawFile database(std::string(g_projectDirectory) + "TAGNAME.DB", RawFile::Access::ReadOnly);
    if (database.IsOpen() && HeaderMatches(database)) {
        int32_t count = g_tagCount;
        database.ReadAt(kBodyOffset, &count, sizeof count);
        if (count >= 0) {
            g_tagCount = count > kMaxTagCount ? kMaxTagCount : count;
            return true;
        }
    }
    ShowMessage(kDamagedDatabaseMessage, MB_OK);
    return false;
}
