#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/server/object_enumerator.h"
#include "opc/server/string_enumerator.h"
#include "opc_error.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

const wchar_t* const kNames[] = {L"one", L"two", L"three"};

ComPtr<IEnumString> ThreeStrings(IUnknown* owner = nullptr)
{
    ComPtr<IEnumString> strings;
    EXPECT_EQ(S_OK, StringEnumerator::Create(owner, 3, kNames, IID_PPV_ARGS(&strings)));
    return strings;
}

// Next(celt) with a count: the result, the strings handed out.
struct Fetch {
    HRESULT hr;
    std::vector<std::wstring> strings;
};

Fetch Next(IEnumString* strings, ULONG celt)
{
    std::vector<LPOLESTR> got(celt + 1, nullptr);
    ULONG fetched = 99;
    Fetch result{strings->Next(celt, got.data(), &fetched), {}};
    for (ULONG i = 0; i < fetched && i < celt; ++i) {
        TaskMem<wchar_t> text(got[i]);
        result.strings.push_back(text.get());
    }
    return result;
}

using Strings = std::vector<std::wstring>;

TEST(Enumerator, NextHandsOutUpToCeltAndSaysWhenItFellShort)
{
    ComPtr<IEnumString> strings = ThreeStrings();
    Fetch first = Next(strings.Get(), 2);
    EXPECT_EQ(S_OK, first.hr);
    EXPECT_EQ((Strings{L"one", L"two"}), first.strings);
    Fetch second = Next(strings.Get(), 2);
    EXPECT_EQ(S_FALSE, second.hr);
    EXPECT_EQ((Strings{L"three"}), second.strings);
    Fetch third = Next(strings.Get(), 1);
    EXPECT_EQ(S_FALSE, third.hr);
    EXPECT_TRUE(third.strings.empty());
}

TEST(Enumerator, FetchedCountMayBeLeftOutOnlyForOneElement)
{
    ComPtr<IEnumString> strings = ThreeStrings();
    LPOLESTR got[2] = {};
    ASSERT_EQ(S_OK, strings->Next(1, got, nullptr));
    TaskMem<wchar_t> one(got[0]);
    EXPECT_STREQ(L"one", one.get());
    EXPECT_EQ(E_POINTER, strings->Next(2, got, nullptr));
    EXPECT_EQ(E_POINTER, strings->Next(1, nullptr, nullptr)) << "no array to fill";
}

TEST(Enumerator, SkipMovesOnlyWithinTheList)
{
    struct Case {
        ULONG skip;
        HRESULT hr;
        Strings nextAfter;
    };
    const Case cases[] = {
        {0, S_OK, {L"one"}},    {2, S_OK, {L"three"}},           {3, S_OK, {}},
        {4, S_FALSE, {L"one"}}, {0xFFFFFFFF, S_FALSE, {L"one"}},
    };
    for (const Case& c : cases) {
        ComPtr<IEnumString> strings = ThreeStrings();
        EXPECT_EQ(c.hr, strings->Skip(c.skip)) << c.skip;
        EXPECT_EQ(c.nextAfter, Next(strings.Get(), 1).strings) << c.skip;
    }
}

TEST(Enumerator, CloneContinuesFromTheCursorIndependentlyAndResetStartsOver)
{
    ComPtr<IEnumString> strings = ThreeStrings();
    Next(strings.Get(), 1);
    ComPtr<IEnumString> clone;
    ASSERT_EQ(S_OK, strings->Clone(&clone));
    EXPECT_EQ(1, RefCount(clone.Get()));
    EXPECT_EQ((Strings{L"two", L"three"}), Next(clone.Get(), 2).strings);
    EXPECT_EQ((Strings{L"two"}), Next(strings.Get(), 1).strings);
    EXPECT_EQ(S_OK, strings->Reset());
    EXPECT_EQ((Strings{L"one"}), Next(strings.Get(), 1).strings);
    EXPECT_EQ(E_POINTER, strings->Clone(nullptr));
}

TEST(Enumerator, EveryReferenceIsRepeatedOnTheOwner)
{
    ComPtr<IOPCServer> server = NewServer();
    ASSERT_EQ(1, RefCount(server.Get()));
    ComPtr<IEnumString> strings = ThreeStrings(server.Get());
    EXPECT_EQ(2, RefCount(server.Get()));
    ComPtr<IEnumString> clone;
    ASSERT_EQ(S_OK, strings->Clone(&clone));
    EXPECT_EQ(3, RefCount(server.Get()));
    clone.Reset();
    strings.Reset();
    EXPECT_EQ(1, RefCount(server.Get()));
}

TEST(ObjectEnumerator, HoldsAndHandsOutCountedReferences)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"Removed");
    ComPtr<IEnumUnknown> groups;
    ASSERT_EQ(S_OK,
              server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown,
                                            reinterpret_cast<IUnknown**>(groups.GetAddressOf())));
    EXPECT_EQ(3, RefCount(group.Get())) << "client, group table, enumerator";
    ASSERT_EQ(OPC_S_INUSE, server->RemoveGroup(0, FALSE));
    group.Reset();
    ComPtr<IUnknown> element;
    ASSERT_EQ(S_OK, groups->Next(1, &element, nullptr));
    EXPECT_EQ(2, RefCount(element.Get())) << "the removed group lives on in the enumerator";
    ComPtr<IOPCGroupStateMgt> state;
    EXPECT_EQ(S_OK, element.As(&state));
    state.Reset();
    groups.Reset();
    EXPECT_EQ(1, RefCount(element.Get()));
}

}  // namespace
