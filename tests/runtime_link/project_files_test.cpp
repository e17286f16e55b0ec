#include "runtime_link/project_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/message_box.h"
#include "runtime_link/ansi_text.h"
#include "tests/support/temp_directory.h"

namespace {

struct ShownBox {
    std::string text;
    UINT type;
};
std::vector<ShownBox> g_boxes;

int RecordBox(const char*, const char* text, UINT type)
{
    g_boxes.push_back({text, type});
    return IDOK;
}

const std::string kMagic("Parhelionix V7.11\0\0\0", 20);
const std::string kNoProject = AnsiFromWide(L"应用程序目录不存在!");
const std::string kDamagedDatabase = AnsiFromWide(L"系统变量数据库被破坏，请在开发系统中重新建立!");

std::string Word(int32_t value)
{
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

std::string PathField(const std::string& path)
{
    std::string field = path;
    field.resize(256, '\0');
    return field;
}

// The 304 bytes the server writes for a missing or foreign PXVIEWER.CFG.
std::string DefaultViewerConfig()
{
    std::string cfg = kMagic;
    cfg += std::string("Parhelionix").append(64 - 11, '\0');
    cfg += Word(1) + Word(100) + Word(1000);
    for (int i = 0; i < 5; ++i) cfg += Word(1);
    cfg += Word(100) + Word(500) + Word(1000) + Word(0) + Word(1);
    for (int i = 0; i < 5; ++i) cfg += Word(0);
    for (int i = 0; i < 24; ++i) cfg += Word(1);
    cfg += Word(2) + Word(5) + Word(0) + Word(0) + Word(1000);
    cfg += std::string(32, '\0');
    return cfg;
}

// A system program directory named in win.ini, holding PXMAKER.DAT, and a project beside it.
class ProjectFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_boxes.clear();
        SetMessageBoxSeam(RecordBox);
        ResetProjectFiles();
        std::memset(g_projectDirectory, 0, sizeof g_projectDirectory);
        std::memset(g_viewerConfig, 0, sizeof g_viewerConfig);
        projectDir = root.File("project");
        CreateDirectoryA(projectDir.c_str(), nullptr);
        SetWinIniEntry(root.Path().c_str());
    }

    void TearDown() override
    {
        SetWinIniEntry(nullptr);
        SetMessageBoxSeam(nullptr);
    }

    static void SetWinIniEntry(const char* value)
    {
        WriteProfileStringA(AnsiFromWide(L"Parhelionix").c_str(),
                            AnsiFromWide(L"系统程序目录").c_str(), value);
    }

    void WriteMaker(const std::string& bytes) { WriteBytes(root.File("PXMAKER.DAT"), bytes); }
    void UseProject() { WriteMaker(kMagic + PathField(projectDir + "\\")); }
    std::string ProjectFile(const char* name) const { return projectDir + "\\" + name; }

    TempDirectory root;
    std::string projectDir;
};

TEST_F(ProjectFilesTest, ProjectIsFoundThroughWinIniAndPxmaker)
{
    UseProject();
    ASSERT_TRUE(LookupProject());
    EXPECT_EQ(root.Path(), g_systemProgramDirectory);
    EXPECT_EQ(projectDir + "\\", g_projectDirectory);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ProjectFilesTest, AnyVersionTextAfterTheVendorNameMatches)
{
    WriteMaker(std::string("Parhelionix V9.99\0\0\0", 20) + PathField(projectDir + "\\"));
    EXPECT_TRUE(LookupProject());
}

TEST_F(ProjectFilesTest, WithoutWinIniEntryTheCurrentDirectoryIsTheSystemDirectory)
{
    SetWinIniEntry(nullptr);
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(root.Path().c_str());
    UseProject();
    const bool found = LookupProject();
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(found);
    EXPECT_EQ(root.Path(), g_systemProgramDirectory);
}

TEST_F(ProjectFilesTest, EveryWayOfMissingTheProjectShowsTheSameMessage)
{
    const std::string file = root.File("plain.txt");
    WriteBytes(file, "x");
    const struct {
        const char* what;
        std::string maker;
    } cases[] = {
        {"empty file", ""},
        {"short header", "Parhelionix"},
        {"foreign header",
         std::string("Parhelionyx V7.11\0\0\0", 20) + PathField(projectDir + "\\")},
        {"header only", kMagic},
        {"missing directory", kMagic + PathField(root.File("nowhere") + "\\")},
        {"a file, not a directory", kMagic + PathField(file + "\\")},
        {"path field without terminator", kMagic + std::string(300, 'A')},
    };
    for (const auto& c : cases) {
        g_boxes.clear();
        WriteMaker(c.maker);
        EXPECT_FALSE(LookupProject()) << c.what;
        ASSERT_EQ(1u, g_boxes.size()) << c.what;
        EXPECT_EQ(kNoProject, g_boxes[0].text) << c.what;
        EXPECT_EQ(UINT(MB_ICONEXCLAMATION), g_boxes[0].type) << c.what;
    }
}

TEST_F(ProjectFilesTest, MissingPxmakerIsCreatedEmptyAndReported)
{
    EXPECT_FALSE(LookupProject());
    EXPECT_TRUE(FileExists(root.File("PXMAKER.DAT")));
    EXPECT_EQ("", ReadBytes(root.File("PXMAKER.DAT")));
    ASSERT_EQ(1u, g_boxes.size());
}

TEST_F(ProjectFilesTest, UnreachableSystemDirectoryFailsLikeAMissingPxmaker)
{
    SetWinIniEntry(root.File("no\\such\\dir").c_str());
    EXPECT_FALSE(LookupProject());
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(kNoProject, g_boxes[0].text);
}

TEST_F(ProjectFilesTest, MissingOrForeignConfigurationIsReplacedByTheDefault)
{
    UseProject();
    ASSERT_TRUE(LookupProject());
    for (const std::string& before : {std::string(), std::string("junk"),
                                      std::string("Parhelionyx V7.11") + std::string(300, 'z')}) {
        WriteBytes(ProjectFile("PXVIEWER.CFG"), before);
        std::memset(g_viewerConfig, 0, sizeof g_viewerConfig);
        LoadViewerConfiguration();
        const std::string written = ReadBytes(ProjectFile("PXVIEWER.CFG"));
        const std::string expected = DefaultViewerConfig();
        ASSERT_EQ(304u, expected.size());
        EXPECT_EQ(expected, written.substr(0, 304)) << "from " << before.size() << " bytes";
        EXPECT_EQ(before.size() > 304 ? before.substr(304) : "", written.substr(304))
            << "bytes beyond 303 are kept";
        EXPECT_EQ(1000, PollPeriod());
    }
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ProjectFilesTest, MatchingConfigurationIsReadAndLeftAlone)
{
    UseProject();
    ASSERT_TRUE(LookupProject());
    std::string cfg = DefaultViewerConfig();
    cfg.replace(268, 4, Word(250));
    WriteBytes(ProjectFile("PXVIEWER.CFG"), cfg);
    LoadViewerConfiguration();
    EXPECT_EQ(250, PollPeriod());
    EXPECT_EQ(cfg, ReadBytes(ProjectFile("PXVIEWER.CFG")));

    // A matching header on a short file leaves the unread rest of the block as it was.
    std::memset(g_viewerConfig, 0, sizeof g_viewerConfig);
    WriteBytes(ProjectFile("PXVIEWER.CFG"), cfg.substr(0, 100));
    LoadViewerConfiguration();
    EXPECT_EQ(0, PollPeriod());
}

TEST_F(ProjectFilesTest, ConfigurationThatCannotBeOpenedLeavesTheDefaultInEffect)
{
    std::strcpy(g_projectDirectory, (root.File("gone") + "\\").c_str());
    LoadViewerConfiguration();
    EXPECT_EQ(1000, PollPeriod());
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ProjectFilesTest, TagCountIsReadClippedOrRefused)
{
    UseProject();
    ASSERT_TRUE(LookupProject());
    const struct {
        std::string database;
        bool accepted;
        int32_t count;
    } cases[] = {
        {kMagic + Word(20), true, 20},
        {kMagic + Word(0), true, 0},
        {kMagic, true, 26},  // ends at its header: the count stays 26
        {kMagic + Word(10000), true, 10000},
        {kMagic + Word(10001), true, 10000},
        {kMagic + Word(-1), false, 26},
        {std::string("Parhelionyx V7.11\0\0\0", 20) + Word(20), false, 26},
        {"", false, 26},
    };
    for (const auto& c : cases) {
        g_boxes.clear();
        g_tagCount = 26;
        WriteBytes(ProjectFile("TAGNAME.DB"), c.database);
        EXPECT_EQ(c.accepted, CheckTagDatabase()) << c.database.size();
        EXPECT_EQ(c.count, g_tagCount);
        if (c.accepted) {
            EXPECT_TRUE(g_boxes.empty());
            continue;
        }
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ(kDamagedDatabase, g_boxes[0].text);
        EXPECT_EQ(UINT(MB_OK), g_boxes[0].type);
    }
}

TEST_F(ProjectFilesTest, MissingTagDatabaseIsCreatedEmptyAndReported)
{
    UseProject();
    ASSERT_TRUE(LookupProject());
    EXPECT_FALSE(CheckTagDatabase());
    EXPECT_TRUE(FileExists(ProjectFile("TAGNAME.DB")));
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(kDamagedDatabase, g_boxes[0].text);

    g_boxes.clear();
    std::strcpy(g_projectDirectory, (root.File("gone") + "\\").c_str());
    EXPECT_FALSE(CheckTagDatabase()) << "a database that cannot be opened is damaged too";
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(kDamagedDatabase, g_boxes[0].text);
}

}  // namespace
