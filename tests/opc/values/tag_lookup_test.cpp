#include "opc/values/tag_lookup.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "linear_tag_scan.h"
#include "test_mirror.h"

namespace {

// Slot 2 repeats slot 0's name; slot 3's name holds a dot and ends in slot 1's; slot 4 has no
// name; slot 7 lies beyond the mirror count unless a test widens it; slot 8 holds the longest
// name that fits.
const std::vector<std::wstring> kNames = {L"TANK1", L"tank2",        L"TANK1",         L"A.tank2",
                                          L"",      L"\x6C34\x4F4D", L"\xD83D\xDE00x", L"BEYOND"};
const std::wstring kLongest(kMirrorNameUnits - 1, L'L');

class TagLookupTest : public ::testing::Test {
protected:
    TagLookupTest() : mirror_(Names())
    {
        g_mirrorCount = 7;
        index_.Build();
    }
    static std::vector<std::wstring> Names()
    {
        std::vector<std::wstring> names = kNames;
        names.push_back(kLongest);
        return names;
    }
    // The index and the plain scan agree, and both give the expected slot.
    void ExpectSlot(int expected, const wchar_t* itemId, const std::string& label)
    {
        EXPECT_EQ(expected, FindTagOfItemId(index_, itemId)) << label;
        EXPECT_EQ(expected, LinearTagScan(itemId)) << label;
    }

    TestMirror mirror_;
    TagNameIndex index_;
};

TEST_F(TagLookupTest, TagNameIsTheWholeIdWhenATagHasItElseTheTextAfterTheLastDot)
{
    const struct {
        const wchar_t* itemId;
        const wchar_t* name;
    } cases[] = {
        {nullptr, L""},
        {L"", L""},
        {L".", L""},
        {L"A.", L""},
        {L"TANK1", L"TANK1"},
        {L"Tagname.TANK1", L"TANK1"},
        {L"A.B.TANK1", L"TANK1"},
        {L"..x", L"x"},
        {L".TANK1", L"TANK1"},
        {L"A.tank2", L"A.tank2"},
        {L"X.A.tank2", L"tank2"},
        {L"A.B", L"B"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::wstring(c.name), std::wstring(TagNameOfItemId(index_, c.itemId)))
            << (c.itemId ? c.itemId : L"(null)");
    }
}

TEST_F(TagLookupTest, FindsTheLowestSlotOfTheExactNameElseOfTheNameAfterTheLastDot)
{
    const struct {
        const wchar_t* itemId;
        int slot;
        const char* label;
    } cases[] = {
        {L"TANK1", 0, "plain name, lowest of two slots"},
        {L"Tagname.TANK1", 0, "prefix before a dot"},
        {L"A.B.TANK1", 0, "several dots"},
        {L"tank1", kNoTag, "case-sensitive"},
        {L"TANK", kNoTag, "prefix of a name"},
        {L"TANK1 ", kNoTag, "trailing space"},
        {L"tank2", 1, "second slot"},
        {L"A.tank2", 3, "a name with a dot, exactly, before the tag its tail names"},
        {L"B.tank2", 1, "another prefix names the tail's tag"},
        {L"X.A.tank2", 1, "a prefix before a dotted name leaves only the tail"},
        {L"A", kNoTag, "nor does a dotted name's first part"},
        {L"X.\x6C34\x4F4D", 5, "non-ASCII name"},
        {L"\xD83D\xDE00x", 6, "surrogate pair in the name"},
        {L"\xD83D", kNoTag, "lone high surrogate"},
        {L"\xDE00x", kNoTag, "lone low surrogate"},
        {L"BEYOND", kNoTag, "slot beyond the mirror count"},
        {L"", 4, "empty item ID names the unnamed tag, as the scan does"},
        {L"TANK1.", 4, "trailing dot leaves the empty name"},
        {L".", 4, "just a dot"},
        {nullptr, kNoTag, "null item ID"},
    };
    for (const auto& c : cases) ExpectSlot(c.slot, c.itemId, c.label);
}

TEST_F(TagLookupTest, LongItemIdsAreSafe)
{
    g_mirrorCount = 9;
    index_.Build();
    const std::wstring huge(100000, L'A');
    const std::wstring hugePrefix = huge + L".TANK1";
    const std::wstring hugeDots(100000, L'.');
    ExpectSlot(kNoTag, huge.c_str(), "100000 units");
    ExpectSlot(0, hugePrefix.c_str(), "long prefix before the name");
    ExpectSlot(kNoTag, (huge + L"." + huge).c_str(), "long name after a dot");
    ExpectSlot(4, hugeDots.c_str(), "only dots");
    ExpectSlot(8, kLongest.c_str(), "name filling its field");
    ExpectSlot(kNoTag, (kLongest + L"L").c_str(), "one unit longer than any name");
}

TEST_F(TagLookupTest, BuildFollowsTheMirrorItIsGiven)
{
    g_mirrorCount = 1;
    index_.Build();
    ExpectSlot(0, L"TANK1", "slot 0 kept");
    ExpectSlot(kNoTag, L"tank2", "slot 1 no longer counted");
    delete g_tagMirror[0];
    g_tagMirror[0] = nullptr;
    g_mirrorCount = 3;
    index_.Build();
    ExpectSlot(2, L"TANK1", "an empty slot is skipped");
}

// Many repeated names and random item IDs: the index answers exactly as the scan does.
TEST(TagNameIndexAgainstScan, AgreesOnRandomNamesAndItemIds)
{
    std::mt19937 random(7);
    const auto randomName = [&random] {
        std::wstring name(1 + random() % 3, L'a');
        for (wchar_t& unit : name) unit = static_cast<wchar_t>(L"ab.\xD800\xDC00"[random() % 5]);
        return name;
    };
    std::vector<std::wstring> names(500);
    for (std::wstring& name : names) name = randomName();
    TestMirror mirror(names);
    TagNameIndex index;
    index.Build();
    for (int i = 0; i < 2000; ++i) {
        const std::wstring itemId = randomName() + randomName();
        ASSERT_EQ(LinearTagScan(itemId.c_str()), FindTagOfItemId(index, itemId.c_str())) << i;
    }
}

}  // namespace
