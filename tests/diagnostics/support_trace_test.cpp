// The support trace's file: nothing while off, one line an event while on, and past its cap one
// older file kept.
#include "diagnostics/support_trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics/trace_throttle.h"

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

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// A client's text can neither start a line of its own nor glue lines together: it is escaped,
// and its name is cut.
TEST(SupportTrace, ClientTextIsEscapedAndItsNameBounded)
{
    const std::wstring longName(10000, L'a');
    const struct {
        const char* what;
        std::wstring name;
        const char* event;
        std::string written;  // the name and event as the line carries them
    } cases[] = {
        {"a forged line", L"x\r\n2026-01-01 00:00:00.000 thread 1 client 1 \"admin\" exit: done",
         "event", "x\\r\\n2026-01-01 00:00:00.000 thread 1 client 1 \\\"admin\\\" exit: done\" event"},
        {"quotes, backslash, tab and control characters", L"a\"b\\c\td\x01" L"e\x7F\x2028",
         "event", "a\\\"b\\\\c\\td\\x01e\\x7F\\u2028\" event"},
        {"a 10000-character name", longName, "event", std::string(kTracedNameLimit, 'a') + "...\" event"},
        {"a name cut between the halves of a pair",
         std::wstring(kTracedNameLimit - 1, L'b') + L"\xD83D\xDE00", "event",
         std::string(kTracedNameLimit - 1, 'b') + "...\" event"},
        {"a lone half", L"\xDC00", "event", "\xEF\xBF\xBD\" event"},
        {"an event carrying the client's text", L"n", "group A\r\nB",
         "n\" group A\\r\\nB hr="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDirectory folder;
        const std::wstring path = Wide(folder.File("trace.log"));
        ASSERT_TRUE(StartSupportTrace(path.c_str()));
        SUPPORT_TRACE((TraceClient{1, c.name.c_str()}), S_OK, "%s", c.event);
        StopSupportTrace();
        const std::string text = Contents(path);
        EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
        EXPECT_EQ(1, std::count(text.begin(), text.end(), '\r')) << text;
        EXPECT_NE(std::string::npos, text.find(" client 1 \"" + c.written)) << text;
        EXPECT_LT(text.size(), 400u) << "the name is bounded";
    }
}

struct FileCloser {
    void operator()(HANDLE file) const { CloseHandle(file); }
};
using HeldFile = std::unique_ptr<void, FileCloser>;

// Writes lines until the trace has been past its cap once, then "the newest line".
void FillPastTheCap()
{
    const std::string filler(400, 'x');
    uint64_t written = 0;
    int lines = 0;
    while (written < kSupportTraceCap) {
        SUPPORT_TRACE(TraceClient{}, S_OK, "line %d %s", lines++, filler.c_str());
        written += filler.size();
    }
    SUPPORT_TRACE(TraceClient{}, S_OK, "the newest line");
}

// Another program holding the trace open while the server writes it: a reader such as
// trace_tail, an editor that does not share deletion, or one holding the older file so that
// nothing can replace it. The trace rotates whenever it can, and otherwise says it stopped and,
// once it can go on, how much it left out.
TEST(SupportTrace, RotatesWhileAnotherProgramHoldsTheFileOrSaysItStopped)
{
    enum class Held { ByTraceTail, ByAnEditor, OlderFileWithoutSharing };
    const struct {
        const char* what;
        Held held;
    } cases[] = {
        {"held the way trace_tail holds it", Held::ByTraceTail},
        {"held without sharing deletion", Held::ByAnEditor},
        {"the older file held without sharing", Held::OlderFileWithoutSharing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDirectory folder;
        const std::wstring path = Wide(folder.File("trace.log"));
        const std::wstring older = OlderSupportTracePath(path);
        ASSERT_TRUE(StartSupportTrace(path.c_str()));
        SUPPORT_TRACE(TraceClient{}, S_OK, "the first line");
        HeldFile holder;
        switch (c.held) {
        case Held::ByTraceTail:
            holder.reset(OpenSupportTraceForReading(path));
            break;
        case Held::ByAnEditor:
            holder.reset(CreateFileW(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            break;
        case Held::OlderFileWithoutSharing:
            holder.reset(CreateFileW(older.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            break;
        }
        ASSERT_NE(INVALID_HANDLE_VALUE, holder.get());
        FillPastTheCap();
        if (c.held != Held::OlderFileWithoutSharing) {
            holder.reset();
            StopSupportTrace();
            EXPECT_NE(std::string::npos, Contents(older).find("the first line"));
            const std::string current = Contents(path);
            EXPECT_LT(current.size(), kSupportTraceCap / 2);
            EXPECT_NE(std::string::npos, current.find("the newest line"));
            EXPECT_EQ(std::string::npos, current.find("the first line"));
            continue;
        }
        const std::string stopped = Contents(path);
        EXPECT_EQ(1u, Occurrences(stopped, "trace stopped: ")) << "said once";
        EXPECT_EQ(std::string::npos, stopped.find("the newest line"));
        EXPECT_LE(stopped.size(), kSupportTraceCap) << "no growth past the cap";
        holder.reset();
        SUPPORT_TRACE(TraceClient{}, S_OK, "after the holder let go");
        StopSupportTrace();
        const std::string resumed = Contents(path);
        EXPECT_LT(resumed.size(), kSupportTraceCap / 2);
        EXPECT_NE(std::string::npos, resumed.find("trace resumed: "));
        EXPECT_NE(std::string::npos, resumed.find(" lines left out since "));
        EXPECT_LT(resumed.find("trace resumed: "), resumed.find("after the holder let go"));
        EXPECT_NE(std::string::npos, Contents(older).find("trace stopped: "));
    }
}

// A point that fires every poll cycle writes a line every so often, and the line counts the
// times left out before it.
TEST(TraceThrottle, OneLineEverySoOftenWithTheCountLeftOut)
{
    const struct {
        ULONGLONG at;
        bool due;
        unsigned skipped;
    } firings[] = {
        {1000, true, 0},   {1100, false, 0}, {6000, false, 0}, {10999, false, 0},
        {11000, true, 3},  {11001, false, 0}, {50000, true, 1},
    };
    TraceThrottle throttle(10000);
    for (const auto& f : firings) {
        SCOPED_TRACE(f.at);
        unsigned skipped = 0xFFFF;
        EXPECT_EQ(f.due, throttle.Due(f.at, skipped));
        if (f.due) {
            EXPECT_EQ(f.skipped, skipped);
        }
    }
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
