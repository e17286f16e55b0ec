#include "viewer/project_location.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "runtime_link/ansi_text.h"
#include "viewer/tag_definition.h"

namespace {

constexpr int kPathFieldOffset = kHeaderSize;

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ProfileSystemDirectory()
{
    char value[kPathField] = {};
    GetProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(), "NONE", value,
                      sizeof value);
    if (std::string(value) != "NONE") return value;
    char current[kPathField] = {};
    GetCurrentDirectoryA(sizeof current, current);
    return current;
}

}  // namespace

std::string SystemDirectoryProfileKey()
{
    return AnsiFromWide(L"系统程序目录");
}

ProjectLocation FindProject(const std::string& systemDirectory)
{
    ProjectLocation location;
    location.systemDirectory = systemDirectory.empty() ? ProfileSystemDirectory() : systemDirectory;
    const std::string pointerPath = location.systemDirectory + "\\" + kProjectPointerFileName;

    std::ifstream file(pointerPath, std::ios::binary);
    if (!file) {
        location.message = "PXMAKER.DAT: cannot open " + pointerPath;
        return location;
    }
    char bytes[kPathFieldOffset + kPathField] = {};
    file.read(bytes, sizeof bytes);
    const size_t got = size_t(file.gcount());
    if (got < kProjectFileHeaderMatch ||
        std::string(bytes, kProjectFileHeaderMatch) !=
            std::string(kProjectFileHeader, kProjectFileHeaderMatch)) {
        location.message = "PXMAKER.DAT: missing or foreign file header in " + pointerPath;
        return location;
    }
    const char* field = bytes + kPathFieldOffset;
    if (strnlen(field, kPathField) == size_t(kPathField)) {
        location.message = "PXMAKER.DAT: project directory without terminating NUL";
        return location;
    }
    const std::string project = field;
    if (project.empty() || project.back() != '\\') {
        location.message = "PXMAKER.DAT: project directory \"" + project +
                           "\" is empty or does not end with a backslash";
        return location;
    }
    if (!IsDirectory(project.substr(0, project.size() - 1))) {
        location.message = "PXMAKER.DAT: project directory \"" + project + "\" does not exist";
        return location;
    }
    location.projectDirectory = project;
    location.ok = true;
    return location;
}

bool WriteProjectPointer(const std::string& systemDirectory, const std::string& projectDirectory,
                         std::string& error)
{
    if (projectDirectory.empty() || projectDirectory.back() != '\\' ||
        projectDirectory.size() >= size_t(kPathField)) {
        error = "project directory must end with a backslash and be shorter than 256 bytes";
        return false;
    }
    char bytes[kPathFieldOffset + kPathField] = {};
    std::copy(std::begin(kProjectFileHeader), std::end(kProjectFileHeader), bytes);
    std::copy(projectDirectory.begin(), projectDirectory.end(), bytes + kPathFieldOffset);

    const std::string path = systemDirectory + "\\" + kProjectPointerFileName;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes, sizeof bytes);
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
