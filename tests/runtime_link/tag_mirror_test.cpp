#include "runtime_link/tag_mirror.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>

#include "runtime_link/ansi_text.h"
#include "runtime_link/mapped_memory.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/viewer_link.h"
#include "tests/app/test_project.h"

namespace {

// A shared tag area of the given number of records, attached as the server attaches it.
class TagMirrorTest : public ::testing::Test {
protected:
    void Attach(int records, int tagCount)
    {
        m_area =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                               static_cast<DWORD>(records * sizeof(TagRecord)), kSharedTagAreaName);
        ASSERT_NE(nullptr, m_area);
        AttachSharedTagArea(m_holder);
        ASSERT_NE(nullptr, g_sharedTagArea);
        g_tagCount = tagCount;
        PollPeriod() = 1000;
    }

    void TearDown() override
    {
        ReleaseTagMirror();
        SetAfterPollCycle(nullptr);
        m_holder.Close();
        g_sharedTagArea = nullptr;
        g_sharedTagRecordCapacity = 0;
        if (m_area) CloseHandle(m_area);
    }

    static TagRecord& Record(int i) { return g_sharedTagArea[i]; }
    static MirrorEntry& Entry(int i) { return *g_tagMirror[i]; }

    static void Define(int i, const wchar_t* name, int32_t typeCode)
    {
        const std::string ansi = AnsiFromWide(name);
        std::memset(Record(i).name, 0, sizeof Record(i).name);
        std::memcpy(Record(i).name, ansi.data(), ansi.size());
        Record(i).typeCode = typeCode;
    }

    static void SetString(int i, const wchar_t* text)
    {
        const std::string ansi = AnsiFromWide(text);
        std::memset(Record(i).stringValue, 0, sizeof Record(i).stringValue);
        std::memcpy(Record(i).stringValue, ansi.data(), ansi.size());
    }

    static void PendString(int i, const std::wstring& text)
    {
        wcsncpy(Entry(i).value.text, text.c_str(), kMirrorStringUnits - 1);
        Entry(i).value.text[kMirrorStringUnits - 1] = L'\0';
        Entry(i).writePending = 1;
    }

    static void ExpectRequestPosted(int i)
    {
        EXPECT_EQ(0, Record(i).requestStatus);
        EXPECT_EQ(1, Record(i).writeRequest);
    }

    static void ExpectNoRequest(int i)
    {
        EXPECT_EQ(-1, Record(i).requestStatus);
        EXPECT_EQ(0, Record(i).writeRequest);
    }

    CMappedMemory m_holder;
    HANDLE m_area = nullptr;
};

// Every type code: which value field it selects, and that the others are never touched.
struct TypeCodeCase {
    int32_t typeCode;
    ValueKind kind;
};
const TypeCodeCase kTypeCodes[] = {
    {0, kValueKindDiscrete}, {1, kValueKindInteger},   {2, kValueKindReal},
    {3, kValueKindString},   {4, kValueKindDiscrete},  {5, kValueKindInteger},
    {6, kValueKindReal},     {7, kValueKindString},    {8, kValueKindNone},
    {9, kValueKindNone},     {10, kValueKindDiscrete}, {11, kValueKindInteger},
    {12, kValueKindReal},    {13, kValueKindString},   {-1, kValueKindNone},
    {14, kValueKindNone},
};
constexpr int kCodes = sizeof kTypeCodes / sizeof kTypeCodes[0];

void FillValues(TagRecord& record, int seed)
{
    record.discreteValue = seed;
    record.integerValue = seed * 10;
    record.realValue = static_cast<float>(seed) + 0.5f;
    std::snprintf(record.stringValue, sizeof record.stringValue, "text %d", seed);
    record.requestStatus = -1;
}

TEST_F(TagMirrorTest, BuildTakesNameKindAndValueByTypeCode)
{
    Attach(20, kCodes);
    for (int i = 0; i < kCodes; ++i) {
        Define(i, (L"标签" + std::to_wstring(i)).c_str(), kTypeCodes[i].typeCode);
        FillValues(Record(i), i + 1);
    }
    BuildTagMirror();
    ASSERT_EQ(kCodes, g_mirrorCount);
    EXPECT_EQ(nullptr, g_tagMirror[kCodes]);
    for (int i = 0; i < kCodes; ++i) {
        SCOPED_TRACE(kTypeCodes[i].typeCode);
        EXPECT_EQ(L"标签" + std::to_wstring(i), Entry(i).name);
        EXPECT_EQ(0, Entry(i).writePending);
        EXPECT_EQ(kTypeCodes[i].kind, Entry(i).kind);
        switch (kTypeCodes[i].kind) {
        case kValueKindDiscrete:
            EXPECT_EQ(i + 1, Entry(i).value.integer);
            break;
        case kValueKindInteger:
            EXPECT_EQ((i + 1) * 10, Entry(i).value.integer);
            break;
        case kValueKindReal:
            EXPECT_EQ(i + 1.5f, Entry(i).value.real);
            break;
        case kValueKindString:
            EXPECT_EQ(L"text " + std::to_wstring(i + 1), Entry(i).value.text);
            break;
        case kValueKindNone:
            EXPECT_EQ(0, Entry(i).value.integer);
            break;
        }
    }
}

TEST_F(TagMirrorTest, PollCycleRefreshesByTheRecordsCurrentTypeCode)
{
    Attach(20, kCodes);
    for (int i = 0; i < kCodes; ++i) Define(i, L"t", kTypeCodes[i].typeCode);
    BuildTagMirror();
    for (int i = 0; i < kCodes; ++i) {
        FillValues(Record(i), 100 + i);
        Entry(i).value.integer = -7;
    }
    RunPollCycle();
    for (int i = 0; i < kCodes; ++i) {
        SCOPED_TRACE(kTypeCodes[i].typeCode);
        switch (kTypeCodes[i].kind) {
        case kValueKindDiscrete:
            EXPECT_EQ(100 + i, Entry(i).value.integer);
            break;
        case kValueKindInteger:
            EXPECT_EQ((100 + i) * 10, Entry(i).value.integer);
            break;
        case kValueKindReal:
            EXPECT_EQ(100 + i + 0.5f, Entry(i).value.real);
            break;
        case kValueKindString:
            EXPECT_EQ(L"text " + std::to_wstring(100 + i), Entry(i).value.text);
            break;
        case kValueKindNone:
            EXPECT_EQ(-7, Entry(i).value.integer);
            break;
        }
        ExpectNoRequest(i);
    }
}

TEST_F(TagMirrorTest, PendingValueReachesItsFieldWithAWriteRequest)
{
    Attach(20, kCodes);
    for (int i = 0; i < kCodes; ++i) {
        Define(i, L"t", kTypeCodes[i].typeCode);
        FillValues(Record(i), 1);
    }
    for (int source : kRequestStampSources) Record(source).integerValue = 1000 + source;
    BuildTagMirror();
    for (int i = 0; i < kCodes; ++i) {
        if (kTypeCodes[i].kind == kValueKindString) {
            PendString(i, L"新值");
        } else {
            Entry(i).value.integer = 0x41000000;  // 8.0f when read as a real
            Entry(i).writePending = 1;
        }
    }
    RunPollCycle();
    for (int i = 0; i < kCodes; ++i) {
        SCOPED_TRACE(kTypeCodes[i].typeCode);
        const TagRecord& r = Record(i);
        const ValueKind kind = kTypeCodes[i].kind;
        EXPECT_EQ(kind == kValueKindDiscrete ? 0x41000000 : 1, r.discreteValue);
        if (!(i >= 8 && i <= 16)) {  // those records are the stamp's sources
            EXPECT_EQ(kind == kValueKindInteger ? 0x41000000 : 10, r.integerValue);
        }
        EXPECT_EQ(kind == kValueKindReal ? 8.0f : 1.5f, r.realValue);
        EXPECT_EQ(kind == kValueKindString ? AnsiFromWide(L"新值") : "text 1", r.stringValue);
        EXPECT_EQ(0, Entry(i).writePending);
        ExpectRequestPosted(i);  // also for codes that move no value
    }
    const int32_t expectedStamp[7] = {1008, 1009, 1010, 1013, 1014, 1015, 1016};
    EXPECT_EQ(0, std::memcmp(expectedStamp, Record(0).requestStamp, sizeof expectedStamp));
}

TEST_F(TagMirrorTest, EntryKeepsTheClientValueForTheCycleThatWritesIt)
{
    Attach(17, 1);
    Define(0, L"t", 1);
    BuildTagMirror();
    Entry(0).value.integer = 5;
    Entry(0).writePending = 1;
    RunPollCycle();
    Record(0).integerValue = 9;  // the Viewer changes the value right after the write
    EXPECT_EQ(5, Entry(0).value.integer);
    RunPollCycle();
    EXPECT_EQ(9, Entry(0).value.integer);
}

// A read that may not wait for the poll cycle sees the record as it is now and leaves the
// mirror as the last cycle left it; a client value waiting in the entry is what it reads.
TEST_F(TagMirrorTest, ReadNowTakesTheRecordAndLeavesTheMirror)
{
    Attach(17, 2);
    Define(0, L"t", 1);
    Define(1, L"s", 3);
    EXPECT_EQ(0u, MirrorRefreshedAt()) << "no values taken yet";
    BuildTagMirror();
    EXPECT_NE(0u, MirrorRefreshedAt());
    Record(0).integerValue = 9;
    SetString(1, L"现在");
    MirrorEntry now;
    ASSERT_TRUE(ReadTagRecordNow(0, now));
    EXPECT_EQ(9, now.value.integer);
    EXPECT_EQ(0, Entry(0).value.integer) << "the mirror waits for its cycle";
    ASSERT_TRUE(ReadTagRecordNow(1, now));
    EXPECT_STREQ(L"现在", now.value.text);
    EXPECT_STREQ(L"", Entry(1).value.text);
    Entry(0).value.integer = 5;
    Entry(0).writePending = 1;
    ASSERT_TRUE(ReadTagRecordNow(0, now));
    EXPECT_EQ(5, now.value.integer);
    EXPECT_FALSE(ReadTagRecordNow(2, now)) << "beyond the tag count";
    EXPECT_FALSE(ReadTagRecordNow(-1, now));
}

// An entry's value carries the time it was taken: the build's, then that of the cycle that
// found the record's value differ; a value that stays keeps its time, also a client's text that
// comes back from the record as it was written. A read of the record now carries its own time.
TEST_F(TagMirrorTest, AValueKeepsTheTimeTheMirrorTookIt)
{
    Attach(17, 2);
    Define(0, L"n", 1);
    Define(1, L"s", 3);
    const uint64_t beforeBuild = UtcTicksNow();
    BuildTagMirror();
    EXPECT_GE(Entry(0).valueTime, beforeBuild);
    EXPECT_EQ(Entry(0).valueTime, Entry(1).valueTime) << "one time for the build";
    const struct {
        const char* name;
        std::function<void()> change;
        bool numberTaken, textTaken;  // whether the cycle stamps the entry
    } cycles[] = {
        {"nothing changed", [] {}, false, false},
        {"the number changed", [] { Record(0).integerValue = 4; }, true, false},
        {"the text changed", [] { SetString(1, L"新"); }, false, true},
        {"a client's text, written back", [] {
             std::wcscpy(Entry(1).value.text, L"客户");
             Entry(1).writePending = 1;
         }, false, false},
        {"the client's text read back as written", [] {}, false, false},
        {"the same number written again by the Viewer", [] { Record(0).integerValue = 4; },
         false, false},
    };
    for (const auto& cycle : cycles) {
        SCOPED_TRACE(cycle.name);
        constexpr uint64_t kKept = 1;  // no cycle ever stamps this
        Entry(0).valueTime = Entry(1).valueTime = kKept;
        cycle.change();
        const uint64_t before = UtcTicksNow();
        RunPollCycle();
        EXPECT_EQ(cycle.numberTaken, Entry(0).valueTime != kKept);
        EXPECT_EQ(cycle.textTaken, Entry(1).valueTime != kKept);
        EXPECT_GE(cycle.numberTaken ? Entry(0).valueTime : before, before);
        EXPECT_GE(cycle.textTaken ? Entry(1).valueTime : before, before);
    }
    const uint64_t beforeRead = UtcTicksNow();
    MirrorEntry now;
    ASSERT_TRUE(ReadTagRecordNow(0, now));
    EXPECT_GE(now.valueTime, beforeRead) << "the time of the read, changed or not";
}

TEST_F(TagMirrorTest, WriteToInhibitedTagIsDropped)
{
    Attach(17, 1);
    Define(0, L"t", 1);
    Record(0).writeInhibit = 1;
    Record(0).integerValue = 3;
    Record(0).requestStatus = -1;
    BuildTagMirror();
    Entry(0).value.integer = 5;
    Entry(0).writePending = 1;
    RunPollCycle();
    EXPECT_EQ(0, Entry(0).writePending);
    EXPECT_EQ(3, Record(0).integerValue);
    ExpectNoRequest(0);
    RunPollCycle();
    EXPECT_EQ(3, Entry(0).value.integer);
}

TEST_F(TagMirrorTest, OnlyExactlyOneCountsAsPending)
{
    Attach(17, 1);
    Define(0, L"t", 1);
    Record(0).integerValue = 3;
    Record(0).requestStatus = -1;
    BuildTagMirror();
    Entry(0).value.integer = 5;
    Entry(0).writePending = 2;
    RunPollCycle();
    EXPECT_EQ(3, Entry(0).value.integer);
    EXPECT_EQ(3, Record(0).integerValue);
    ExpectNoRequest(0);
}

TEST_F(TagMirrorTest, SecondOfTwoWritesBeforeACycleWins)
{
    Attach(17, 1);
    Define(0, L"t", 3);
    BuildTagMirror();
    PendString(0, L"first");
    PendString(0, L"second");
    RunPollCycle();
    EXPECT_STREQ("second", Record(0).stringValue);
}

TEST_F(TagMirrorTest, StringsConvertBothWaysAndAreCutToTheField)
{
    Attach(17, 3);
    Define(0, L"empty", 3);
    Define(1, L"中文", 7);
    Define(2, L"long", 13);
    SetString(0, L"");
    SetString(1, L"温度正常");
    BuildTagMirror();
    EXPECT_STREQ(L"", Entry(0).value.text);
    EXPECT_STREQ(L"温度正常", Entry(1).value.text);

    std::memset(Record(2).requestStamp, 0x55, sizeof Record(2).requestStamp);
    Record(2).writeInhibit = 0;
    PendString(2, std::wstring(131, L'汉'));
    RunPollCycle();
    EXPECT_EQ(AnsiFromWide(std::wstring(65, L'汉').c_str()), Record(2).stringValue);
    EXPECT_EQ(0, Record(2).writeInhibit) << "nothing written past the string field";
}

TEST_F(TagMirrorTest, TagCountIsClippedToTheRecordsTheAreaHolds)
{
    Attach(5, 26);  // 5 records round up to one page: 6 whole records
    for (int i = 0; i < 6; ++i) Define(i, L"t", 1);
    BuildTagMirror();
    EXPECT_EQ(6, g_tagCount);
    EXPECT_EQ(6, g_mirrorCount);
    Entry(5).value.integer = 4;
    Entry(5).writePending = 1;
    RunPollCycle();
    EXPECT_EQ(4, Record(5).integerValue);
    const int32_t zeros[7] = {};
    EXPECT_EQ(0, std::memcmp(zeros, Record(5).requestStamp, sizeof zeros))
        << "stamp sources beyond the area read as 0";
}

int32_t g_hookPeriod;
int g_hookCalls;

TEST_F(TagMirrorTest, EmptyMirrorStillRunsTheAfterPollHook)
{
    Attach(17, 0);
    BuildTagMirror();
    EXPECT_EQ(0, g_mirrorCount);
    EXPECT_EQ(nullptr, g_tagMirror[0]);
    g_hookCalls = 0;
    SetAfterPollCycle([](int32_t period) {
        g_hookPeriod = period;
        ++g_hookCalls;
    });
    PollPeriod() = 55;
    RunPollCycle();
    EXPECT_EQ(1, g_hookCalls);
    EXPECT_EQ(55, g_hookPeriod);
}

int g_pollHooks = 0;

TEST_F(TagMirrorTest, TheViewersGoingLetsTheAreaGoAndItsReturnAttachesItAgain)
{
    Attach(3, 3);
    Define(0, L"A", 1);
    Record(0).integerValue = 5;
    BuildTagMirror();
    g_pollHooks = 0;
    SetAfterPollCycle([](int32_t) { ++g_pollHooks; });
    auto viewer = std::make_unique<MarkerWindow>(kViewerWindowClass);
    WatchViewer(&m_holder);
    RunPollCycle();
    EXPECT_TRUE(ViewerLinked());

    viewer.reset();
    CloseHandle(m_area);  // the Viewer's own handle goes with it
    m_area = nullptr;
    Entry(0).value.integer = 9;
    Entry(0).writePending = 1;
    RunPollCycle();
    EXPECT_FALSE(ViewerLinked());
    EXPECT_EQ(nullptr, g_sharedTagArea);
    EXPECT_EQ(0, Entry(0).writePending) << "a write nobody takes is not kept for a later Viewer";
    EXPECT_EQ(9, Entry(0).value.integer) << "the last known value stays";
    EXPECT_EQ(2, g_pollHooks) << "the update pass still runs, to tell the clients";

    // Back, but its area not made yet: still unlinked, tried again every cycle.
    viewer = std::make_unique<MarkerWindow>(kViewerWindowClass);
    RunPollCycle();
    EXPECT_FALSE(ViewerLinked());
    m_area = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                2 * sizeof(TagRecord), kSharedTagAreaName);
    RunPollCycle();
    EXPECT_TRUE(ViewerLinked());
    ASSERT_NE(nullptr, g_sharedTagArea);
    EXPECT_EQ(0, Entry(0).value.integer) << "refreshed from the new area";
    Define(0, L"A", 1);
    Record(0).integerValue = 11;
    RunPollCycle();
    EXPECT_EQ(11, Entry(0).value.integer);
    WatchViewer(nullptr);
}

// A string is converted only when its bytes change; whatever happens between cycles (a new
// text, the same text, a record retyped to another kind and back, a client's text written back
// or dropped at an inhibited tag), every entry of a string tag holds after each cycle what a
// fresh conversion of its record gives.
TEST_F(TagMirrorTest, StringEntriesMatchAFreshConversionOfTheirRecordsAfterEveryCycle)
{
    constexpr int kTags = 6;
    Attach(20, kTags);
    for (int i = 0; i < kTags; ++i) {
        Define(i, L"s", 3);
        SetString(i, L"初值");
    }
    BuildTagMirror();
    enum Step { NewText, SameText, Retype, ClientText, InhibitedClientText, kSteps };
    // Texts of one length that differ only in their last bytes, or in one word of several.
    const wchar_t* texts[] = {L"",
                              L"a",
                              L"温度",
                              L"\x263A not in the code page",
                              L"abc",
                              L"value of tag 10",
                              L"value of tag 11",
                              L"value of tag 1",
                              L"value xf tag 10"};
    constexpr uint32_t kTexts = sizeof texts / sizeof texts[0];
    uint32_t seed = 7;
    const auto pick = [&seed](uint32_t count) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % count;
    };
    for (int cycle = 0; cycle < 200; ++cycle) {
        const int i = static_cast<int>(pick(kTags));
        const uint32_t step = pick(kSteps);
        Record(i).writeInhibit = step == InhibitedClientText ? 1 : 0;
        switch (step) {
        case NewText:
            SetString(i, texts[pick(kTexts)]);
            break;
        case Retype:
            Record(i).typeCode = Record(i).typeCode == 3 ? 1 : 3;
            Record(i).integerValue = static_cast<int32_t>(pick(1000));
            break;
        case ClientText:
        case InhibitedClientText:
            PendString(i, texts[pick(kTexts)]);
            break;
        }
        const bool twoCycles = pick(2) == 1;
        RunPollCycle();
        if (twoCycles) RunPollCycle();
        for (int t = 0; t < kTags; ++t) {
            if (Record(t).typeCode != 3) continue;
            // The cycle that takes a client's text keeps it in the entry (written or dropped).
            const bool clientText = step == ClientText || step == InhibitedClientText;
            if (t == i && clientText && !twoCycles) continue;
            wchar_t fresh[kMirrorStringUnits];
            AnsiFieldToWide(Record(t).stringValue, sizeof Record(t).stringValue, fresh,
                            kMirrorStringUnits);
            EXPECT_STREQ(fresh, Entry(t).value.text) << "cycle " << cycle << ", tag " << t;
        }
    }
}

}  // namespace
