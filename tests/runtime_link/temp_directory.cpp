#include "temp_directory.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

TempDirectory::TempDirectory()
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static int serial = 0;
    std::ostringstream name;
    name << base << "rltest_" << GetCurrentProcessId() << '_' << ++serial;
    m_path = name.str();
    CreateDirectoryA(m_path.c_str(), nullptr);
}

TempDirectory::~TempDirectory()
{
    RemoveTree(m_path);
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
