// The support trace's file: nothing while off, one line an event while on, and past its cap one
// older file kept.
#include "diagnostics/support_trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/temp_directory.h"

namespace {

// The temporary folder's paths are ASCII.
std::wstring Wide(const std::string& path)
{
    return std::wstring(path.begin(), path.end());
}

std::string Contents(const std::wstring& path)
{
    return ReadBytes(std::string(path.begin(), path.end()));
}

TEST(SupportTrace, OffWritesNothingAndOnWritesOneLineAnEvent)
{
    TempDirectory folder;
    const std::wstring path = Wide(folder.File("trace.log"));
    SUPPORT_TRACE(TraceClient{}, S_OK, "before the start");
    EXPECT_FALSE(FileExists(folder.File("trace.log"))) << "off: no file";

    ASSERT_TRUE(StartSupportTrace(path.c_str()));
    SUPPORT_TRACE((TraceClient{4242, L"温度客户"}), E_OUTOFMEMORY, "group %s refused", "A");
    SUPPORT_TRACE(TraceClient{}, S_OK, "viewer attached");
    StopSupportTrace();
    SUPPORT_TRACE(TraceClient{}, S_OK, "after the stop");

    const std::string text = Contents(path);
    EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n')) << text;
    EXPECT_NE(std::string::npos,
              text.find(" client 4242 \"\xE6\xB8\xA9\xE5\xBA\xA6\xE5\xAE\xA2\xE6\x88\xB7\" group A "
                        "refused hr=0x8007000E\r\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find(" client 0 \"\" viewer attached hr=0x00000000\r\n"));
    EXPECT_EQ(std::string::npos, text.find("before the start"));
    EXPECT_EQ(std::string::npos, text.find("after the stop"));
    const std::string thread = "thread " + std::to_string(GetCurrentThreadId()) + " ";
    EXPECT_NE(std::string::npos, text.find(thread));
}

TEST(SupportTrace, PastItsCapTheFileBecomesTheOlderOneAndANewOneStarts)
{
    TempDirectory folder;
    const std::wstring path = Wide(folder.File("trace.log"));
    const std::wstring older = OlderSupportTracePath(path);
    EXPECT_EQ(Wide(folder.File("trace.old.log")), older);
    ASSERT_TRUE(StartSupportTrace(path.c_str()));
    const std::string filler(400, 'x');
    uint64_t written = 0;
    int lines = 0;
    while (written < kSupportTraceCap) {
        SUPPORT_TRACE(TraceClient{}, S_OK, "line %d %s", lines++, filler.c_str());
        written += filler.size();
    }
    SUPPORT_TRACE(TraceClient{}, S_OK, "the newest line");
    StopSupportTrace();
    EXPECT_LE(Contents(older).size(), kSupportTraceCap);
    EXPECT_NE(std::string::npos, Contents(older).find("line 0 "));
    const std::string current = Contents(path);
    EXPECT_LT(current.size(), kSupportTraceCap / 2);
    EXPECT_NE(std::string::npos, current.find("the newest line"));
}

TEST(SupportTrace, TheCommandLineSwitchStandsAlone)
{
    const struct {
        const wchar_t* commandLine;
        bool wanted;
    } cases[] = {
        {L"OPCServer.exe /trace", true},
        {L"OPCServer.exe /trace -Embedding", true},
        {L"OPCServer.exe -Embedding", false},
        {L"OPCServer.exe /tracefile", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.wanted, SupportTraceWanted(c.commandLine)) << c.commandLine;
}

}  // namespace
