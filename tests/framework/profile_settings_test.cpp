#include "framework/profile_settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/recent_file_list.h"

namespace {

class ProfileSettingsTest : public testing::Test {
protected:
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ParhelionixTest"); }

    CProfileSettings settings{"ParhelionixTest", "FrameworkTests"};
};

TEST_F(ProfileSettingsTest, StringIsWrittenReadAndDeleted)
{
    EXPECT_FALSE(settings.GetString("Section", "Entry"));
    ASSERT_TRUE(settings.WriteString("Section", "Entry", std::string("value")));
    EXPECT_EQ("value", settings.GetString("Section", "Entry").value_or(""));
    ASSERT_TRUE(settings.WriteString("Section", "Entry", std::nullopt));
    EXPECT_FALSE(settings.GetString("Section", "Entry"));
}

TEST_F(ProfileSettingsTest, RecentFileListKeepsNewestFirstWithoutDuplicates)
{
    CRecentFileList list(2);
    list.Add("c:\\a.opc");
    list.Add("c:\\b.opc");
    list.Add("C:\\A.OPC");
    list.Add("c:\\c.opc");
    EXPECT_EQ((std::vector<std::string>{"c:\\c.opc", "C:\\A.OPC"}), list.Files());
}

TEST_F(ProfileSettingsTest, RecentFileListSurvivesInTheProfile)
{
    CRecentFileList written(4);
    written.Add("c:\\a.opc");
    written.Add("c:\\b.opc");
    written.WriteList(settings);
    EXPECT_EQ("c:\\b.opc", settings.GetString("Recent File List", "File1").value_or(""));

    CRecentFileList read(4);
    read.ReadList(settings);
    EXPECT_EQ(written.Files(), read.Files());
}

}  // namespace
