#include "viewer/project_location.h"

#include <gtest/gtest.h>

#include "tests/support/temp_directory.h"

namespace {

std::string PointerBytes(const std::string& header, const std::string& pathField)
{
    std::string bytes = header;
    bytes.resize(20, '\0');
    return bytes + pathField;
}

std::string Terminated(std::string path)
{
    path.resize(256, '\0');
    return path;
}

TEST(ProjectLocation, PointerFileIsCheckedBeforeUse)
{
    TempDirectory dir;
    const std::string project = dir.MakeSubdirectory("project") + "\\";
    struct Case {
        const char* what;
        std::string bytes;
        bool ok;
        const char* message;
    } cases[] = {
        {"valid", PointerBytes("Parhelionix V7.11", Terminated(project)), true, ""},
        {"other version", PointerBytes("Parhelionix 0", Terminated(project)), true, ""},
        {"path ends with the file", PointerBytes("Parhelionix V7.11", project), true, ""},
        {"empty file", "", false, "header"},
        {"short header", "Parhelionix", false, "header"},
        {"foreign header", PointerBytes("Parhelion V7.11", Terminated(project)), false, "header"},
        {"path without NUL", PointerBytes("Parhelionix V7.11", std::string(256, 'C')), false,
         "NUL"},
        {"empty path", PointerBytes("Parhelionix V7.11", Terminated("")), false, "backslash"},
        {"no trailing backslash",
         PointerBytes("Parhelionix V7.11", Terminated(project.substr(0, project.size() - 1))),
         false, "backslash"},
        {"missing directory", PointerBytes("Parhelionix V7.11", Terminated(dir.File("gone\\"))),
         false, "does not exist"},
        {"a file, not a directory",
         PointerBytes("Parhelionix V7.11", Terminated(dir.File("PXMAKER.DAT\\"))), false,
         "does not exist"},
    };
    for (const Case& c : cases) {
        WriteBytes(dir.File("PXMAKER.DAT"), c.bytes);
        ProjectLocation location = FindProject(dir.Path());
        EXPECT_EQ(c.ok, location.ok) << c.what << ": " << location.message;
        EXPECT_NE(std::string::npos, location.message.find(c.message)) << c.what;
        EXPECT_EQ(c.ok ? project : "", location.projectDirectory) << c.what;
    }
}

TEST(ProjectLocation, WrittenPointerNamesTheProject)
{
    TempDirectory dir;
    const std::string project = dir.MakeSubdirectory("project") + "\\";
    std::string error;
    ASSERT_TRUE(WriteProjectPointer(dir.Path(), project, error)) << error;
    EXPECT_EQ(276u, ReadBytes(dir.File("PXMAKER.DAT")).size());
    ProjectLocation location = FindProject(dir.Path());
    ASSERT_TRUE(location.ok) << location.message;
    EXPECT_EQ(dir.Path(), location.systemDirectory);
    EXPECT_EQ(project, location.projectDirectory);

    EXPECT_FALSE(WriteProjectPointer(dir.Path(), dir.Path(), error));
    EXPECT_FALSE(WriteProjectPointer(dir.Path(), std::string(255, 'a') + "\\", error));
}

// win.ini belongs to the whole prefix: the entry is put back as it was.
class ProfileEntry {
public:
    ProfileEntry()
    {
        char value[256] = {};
        m_had = GetProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(), "\x01",
                                  value, sizeof value) != 1 ||
                value[0] != '\x01';
        m_value = value;
    }
    ~ProfileEntry()
    {
        WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(),
                            m_had ? m_value.c_str() : nullptr);
    }
    void Set(const char* value)
    {
        WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(), value);
    }

private:
    bool m_had = false;
    std::string m_value;
};

TEST(ProjectLocation, SystemDirectoryComesFromWinIniElseTheCurrentDirectory)
{
    TempDirectory dir;
    const std::string system = dir.MakeSubdirectory("system");
    std::string error;
    ASSERT_TRUE(WriteProjectPointer(system, dir.MakeSubdirectory("project") + "\\", error));
    ProfileEntry entry;

    entry.Set(system.c_str());
    ProjectLocation location = FindProject("");
    EXPECT_TRUE(location.ok) << location.message;
    EXPECT_EQ(system, location.systemDirectory);

    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(system.c_str()));
    for (const char* value : {static_cast<const char*>(nullptr), "NONE"}) {
        entry.Set(value);
        location = FindProject("");
        EXPECT_TRUE(location.ok) << location.message;
        EXPECT_EQ(system, location.systemDirectory);
    }
    SetCurrentDirectoryA(previous);
}

}  // namespace
