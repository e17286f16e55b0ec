#include <gtest/gtest.h>

#include <cwchar>
#include <functional>

#include "opc/values/tag_changes.h"
#include "tests/opc/values/test_mirror.h"

namespace {

// The number of slot 0 after a look, with `change` made to its entry before that look.
uint64_t NumberAfter(const std::function<void(MirrorEntry&)>& change)
{
    change(*g_tagMirror[0]);
    const TagChangeLook look;
    return TagChangeNumber(0);
}

TEST(TagChanges, ANumberMovesWhenItsEntryIsSeenToChangeAndOnlyThen)
{
    const struct {
        const char* what;
        std::function<void(MirrorEntry&)> change;
        bool moves;
    } cases[] = {
        {"nothing", [](MirrorEntry&) {}, false},
        {"another integer", [](MirrorEntry& e) { ++e.value.integer; }, true},
        {"another kind", [](MirrorEntry& e) { e.kind = kValueKindReal; }, true},
        {"another real", [](MirrorEntry& e) { e.value.real += 1; }, true},
        {"a text",
         [](MirrorEntry& e) {
             e.kind = kValueKindString;
             std::wcscpy(e.value.text, L"abc");
         },
         true},
        {"the same text", [](MirrorEntry& e) { std::wcscpy(e.value.text, L"abc"); }, false},
        {"a longer text", [](MirrorEntry& e) { std::wcscpy(e.value.text, L"abcd"); }, true},
        {"bytes behind the terminator", [](MirrorEntry& e) { e.value.text[10] = L'x'; }, false},
        {"a shorter text", [](MirrorEntry& e) { std::wcscpy(e.value.text, L"ab"); }, true},
        {"a text of the same length", [](MirrorEntry& e) { e.value.text[0] = L'X'; }, true},
    };
    TestMirror mirror({L"A", L"B"});
    uint64_t before = NumberAfter([](MirrorEntry&) {});
    for (const auto& c : cases) {
        const uint64_t after = NumberAfter(c.change);
        EXPECT_EQ(c.moves, after != before) << c.what;
        EXPECT_NE(kTagChangeNotSeen, after) << c.what;
        before = after;
    }
}

// An item posts a client value into the entry, and the Viewer's old value is back by the next
// look: both are changes to the items that took the posted value.
TEST(TagChanges, AWrittenEntryIsChangedAgainWhenItsOldValueComesBack)
{
    TestMirror mirror({L"A", L"B"});
    uint64_t seen = 0;
    {
        const TagChangeLook look;
        seen = TagChangeNumber(1);
    }
    const int32_t old = g_tagMirror[1]->value.integer;
    g_tagMirror[1]->value.integer = 99;
    NoteTagWritten(1);
    const uint64_t written = TagChangeNumber(1);
    EXPECT_NE(seen, written);
    g_tagMirror[1]->value.integer = old;
    const TagChangeLook look;
    EXPECT_NE(written, TagChangeNumber(1));
}

TEST(TagChanges, EveryNumberMovesWhenTheMirrorIsBuiltAnew)
{
    uint64_t numbers[2] = {};
    {
        TestMirror mirror({L"A", L"B"});
        const TagChangeLook look;
        numbers[0] = TagChangeNumber(0);
        numbers[1] = TagChangeNumber(1);
    }
    // The same names and values: every item must look its tag up again all the same.
    TestMirror rebuilt({L"A", L"B"});
    const TagChangeLook look;
    EXPECT_NE(numbers[0], TagChangeNumber(0));
    EXPECT_NE(numbers[1], TagChangeNumber(1));
}

TEST(TagChanges, PassesWithinOneLookShareIt)
{
    TestMirror mirror({L"A"});
    const TagChangeLook outer;
    const uint64_t number = TagChangeNumber(0);
    ++g_tagMirror[0]->value.integer;
    {
        const TagChangeLook inner;
        EXPECT_EQ(number, TagChangeNumber(0)) << "the update of all servers looked already";
    }
}

}  // namespace
