// pxproject.exe: writes the demo project the stand-in Viewer runs, in place of the package's
// development system:
//   SYSTEM_DIR\PXMAKER.DAT   naming the project directory
//   PROJECT_DIR\TAGNAME.DB   21 tags of every kind (format in viewer/tag_definition.h)
//   win.ini [Parhelionix] 系统程序目录=SYSTEM_DIR (unless --no-profile)
// Both directories are created when missing; PROJECT_DIR defaults to SYSTEM_DIR\project\.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime_link/ansi_text.h"
#include "viewer/project_location.h"
#include "viewer/tag_database.h"

namespace {

constexpr char kUsage[] =
    "usage: pxproject.exe SYSTEM_DIR [PROJECT_DIR] [--no-profile]\n"
    "  writes SYSTEM_DIR\\PXMAKER.DAT and PROJECT_DIR\\TAGNAME.DB (PROJECT_DIR defaults to\n"
    "  SYSTEM_DIR\\project\\) and, unless --no-profile, the win.ini entry naming SYSTEM_DIR\n";

// The demo's tags. Records 8..10 and 13..16 carry the date and time: they form the stamp of
// every write request.
std::vector<TagDefinition> DemoTags()
{
    struct Demo {
        const wchar_t* name;
        int32_t typeCode;
        int32_t writeInhibit;
        TagSimulation simulation;
        const wchar_t* initialValue;
    };
    static const Demo demo[] = {
        {L"RunFlag", 0, 0, kSimulationToggle, L"0"},
        {L"Counter", 1, 0, kSimulationRamp, L"0"},
        {L"Temperature", 2, 0, kSimulationRamp, L"20.5"},
        {L"Message", 3, 0, kSimulationTextCounter, L"Batch "},
        {L"温度", 6, 0, kSimulationRamp, L"36.5"},
        {L"Pump.Speed", 5, 0, kSimulationRamp, L"40"},
        {L"Setpoint", 12, 1, kSimulationNone, L"50"},
        {L"Alarm", 10, 0, kSimulationNone, L"0"},
        {L"$Year", 1, 0, kSimulationClockYear, L"0"},
        {L"$Month", 1, 0, kSimulationClockMonth, L"0"},
        {L"$Day", 1, 0, kSimulationClockDay, L"0"},
        {L"Operator", 7, 0, kSimulationNone, L"张三"},
        {L"Event", 8, 0, kSimulationNone, L""},
        {L"$Hour", 1, 0, kSimulationClockHour, L"0"},
        {L"$Minute", 1, 0, kSimulationClockMinute, L"0"},
        {L"$Second", 1, 0, kSimulationClockSecond, L"0"},
        {L"$Millisecond", 1, 0, kSimulationClockMillisecond, L"0"},
        {L"Recipe", 9, 0, kSimulationNone, L""},
        {L"Level", 11, 0, kSimulationNone, L"42"},
        {L"Note", 13, 0, kSimulationNone, L"ready"},
        {L"Valve.Open", 4, 0, kSimulationNone, L"1"},
    };
    std::vector<TagDefinition> tags;
    for (const Demo& tag : demo) {
        tags.push_back(MakeTagDefinition(AnsiFromWide(tag.name), tag.typeCode, tag.writeInhibit,
                                         tag.simulation, AnsiFromWide(tag.initialValue)));
    }
    return tags;
}

// Creates the directory and every missing parent; returns its full path without a trailing
// separator, or an empty text.
std::string MakeDirectory(const std::string& path)
{
    char full[MAX_PATH] = {};
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return {};
    std::string directory(full, length);
    while (directory.size() > 3 && (directory.back() == '\\' || directory.back() == '/'))
        directory.pop_back();
    for (size_t at = directory.find('\\', 3);; at = directory.find('\\', at + 1)) {
        CreateDirectoryA(directory.substr(0, at).c_str(), nullptr);
        if (at == std::string::npos) break;
    }
    DWORD attributes = GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return directory;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "pxproject: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> paths;
    bool writeProfile = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--no-profile") {
            writeProfile = false;
        } else if (argument.rfind("--", 0) == 0 || paths.size() == 2) {
            paths.clear();
            break;
        } else {
            paths.push_back(argument);
        }
    }
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }

    const std::string systemDirectory = MakeDirectory(paths[0]);
    if (systemDirectory.empty()) return Fail("cannot create " + paths[0]);
    const std::string projectDirectory =
        MakeDirectory(paths.size() > 1 ? paths[1] : systemDirectory + "\\project");
    if (projectDirectory.empty()) return Fail("cannot create the project directory");

    std::string error;
    if (!WriteProjectPointer(systemDirectory, projectDirectory + "\\", error) ||
        !WriteTagDatabase(projectDirectory + "\\" + kTagDatabaseFileName, DemoTags(), error))
        return Fail(error);
    if (writeProfile && !WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(),
                                             systemDirectory.c_str()))
        return Fail("cannot write the win.ini entry");

    std::printf("system program directory: %s\nproject directory: %s\\\n",
                Utf8FromAnsi(systemDirectory).c_str(), Utf8FromAnsi(projectDirectory).c_str());
    return 0;
}
