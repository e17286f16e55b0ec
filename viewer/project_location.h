#pragma once
#include <string>

// Where the running project lives: win.ini names the system program directory, whose
// PXMAKER.DAT names the project directory (ANSI paths).
//   PXMAKER.DAT: offset 0, 20 bytes: file header (first 12 bytes "Parhelionix ");
//                offset 20, 256 bytes: project directory, NUL-terminated, ending with '\'.
constexpr char kProfileSection[] = "Parhelionix";
constexpr char kProjectPointerFileName[] = "PXMAKER.DAT";

// The win.ini key "系统程序目录" in the ANSI code page.
std::string SystemDirectoryProfileKey();

struct ProjectLocation {
    bool ok = false;
    std::string systemDirectory;
    std::string projectDirectory;  // ends with a backslash
    std::string message;           // why the project was not found
};

// With an empty systemDirectory the win.ini entry names it, or, when the entry is missing, the
// current directory. Refuses a missing, short or foreign PXMAKER.DAT, a path field without NUL
// or trailing backslash, and a project directory that does not exist.
ProjectLocation FindProject(const std::string& systemDirectory);

// Writes PXMAKER.DAT into systemDirectory naming projectDirectory (which must end with a
// backslash and fit its field).
bool WriteProjectPointer(const std::string& systemDirectory, const std::string& projectDirectory,
                         std::string& error);
