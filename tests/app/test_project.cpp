#include "tests/app/test_project.h"

#include <filesystem>
#include <fstream>
#include <iterator>


const char kHeaderMagic[20] = "Parhelionix V7.11";

namespace {

std::string NewRootDirectory()
{
    static int created = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "pxtest_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++created);
}

// The win.ini entry start-up reads the system program directory from.
void SetSystemDirectoryEntry(const wchar_t* directory)
{
    WriteProfileStringW(L"Parhelionix", L"系统程序目录", directory);
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

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
    : m_root(NewRootDirectory()), m_systemDirectory(m_root + "\\sys"),
      m_projectDirectory(m_root + "\\proj\\")
{
    std::filesystem::create_directories(m_systemDirectory);
    std::filesystem::create_directories(m_projectDirectory);
    SetSystemDirectoryEntry(Wide(m_systemDirectory).c_str());
    WriteMakerFile(m_projectDirectory);
    WriteTagDatabase(kHeaderMagic, tagCount);
}

TestProject::~TestProject()
{
    SetSystemDirectoryEntry(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

void TestProject::WriteMakerFile(const std::string& projectDirectory)
{
    std::string bytes(kHeaderMagic, sizeof kHeaderMagic);
    std::string path = projectDirectory;
    path.resize(256, '\0');
    WriteFile(m_systemDirectory + "\\PXMAKER.DAT", bytes + path);
}

void TestProject::WriteTagDatabase(const char* header, int32_t tagCount)
{
    std::string bytes(header, 20);
    bytes.append(reinterpret_cast<const char*>(&tagCount), sizeof tagCount);
    WriteFile(m_projectDirectory + "TAGNAME.DB", bytes);
}

void TestProject::WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string TestProject::ReadFile(const std::string& path) const
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool TestProject::Exists(const std::string& path) const { return std::filesystem::exists(path); }

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
