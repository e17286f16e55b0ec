#include "tests/app/test_project.h"

#include "runtime_link/ansi_text.h"

const char kHeaderMagic[20] = "Parhelionix V7.11";

namespace {

// The win.ini entry start-up reads the system program directory from.
void SetSystemDirectoryEntry(const char* directory)
{
    WriteProfileStringA(AnsiFromWide(L"Parhelionix").c_str(), AnsiFromWide(L"系统程序目录").c_str(),
                        directory);
}

}  // namespace

MarkerWindow::MarkerWindow(const char* className) : m_className(className)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    m_window = CreateWindowExA(0, className, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
}

MarkerWindow::~MarkerWindow()
{
    DestroyWindow(m_window);
    UnregisterClassA(m_className, GetModuleHandleA(nullptr));
}

TestProject::TestProject(int32_t tagCount)
    : m_systemDirectory(m_root.MakeSubdirectory("sys")),
      m_projectDirectory(m_root.MakeSubdirectory("proj") + "\\")
{
    SetSystemDirectoryEntry(m_systemDirectory.c_str());
    WriteMakerFile(m_projectDirectory);
    WriteTagDatabase(kHeaderMagic, tagCount);
}

TestProject::~TestProject()
{
    SetSystemDirectoryEntry(nullptr);
}

void TestProject::WriteMakerFile(const std::string& projectDirectory)
{
    std::string bytes(kHeaderMagic, sizeof kHeaderMagic);
    std::string path = projectDirectory;
    path.resize(256, '\0');
    WriteBytes(m_systemDirectory + "\\PXMAKER.DAT", bytes + path);
}

void TestProject::WriteTagDatabase(const char* header, int32_t tagCount)
{
    std::string bytes(header, 20);
    bytes.append(reinterpret_cast<const char*>(&tagCount), sizeof tagCount);
    WriteBytes(m_projectDirectory + "TAGNAME.DB", bytes);
}

ViewerStandIn::ViewerStandIn(int records)
{
    if (records <= 0) return;
    const DWORD bytes = static_cast<DWORD>(records) * sizeof(TagRecord);
    m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes,
                                   kSharedTagAreaName);
    m_view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
}

ViewerStandIn::~ViewerStandIn()
{
    if (m_view) UnmapViewOfFile(m_view);
    if (m_mapping) CloseHandle(m_mapping);
}
