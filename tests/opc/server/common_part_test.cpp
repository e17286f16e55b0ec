// IOPCCommon of a server object: the locales it offers, error texts in the chosen locale, the
// client's name per server object; IOPCServer::GetErrorString's texts in the locale it is given.
// The tests run in a session of code page 936.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "opc_error.h"
#include "tests/opc/group/refusing_allocator.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

std::wstring CommonErrorString(IOPCCommon* common, HRESULT code)
{
    TaskOut<wchar_t> text;
    EXPECT_EQ(S_OK, common->GetErrorString(code, text.out()));
    return text.get() ? text.get() : L"(null)";
}

TEST(CommonPart, LocalesOfferedAndTheTextsOfEach)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCCommon> common;
    ASSERT_EQ(S_OK, server.As(&common));

    DWORD count = 0;
    TaskOut<LCID> locales;
    ASSERT_EQ(S_OK, common->QueryAvailableLocaleIDs(&count, locales.out()));
    EXPECT_EQ((std::vector<LCID>{LOCALE_SYSTEM_DEFAULT, 0x0409, 0x0804}),
              std::vector<LCID>(locales.get(), locales.get() + count));

    LCID locale = 0;
    ASSERT_EQ(S_OK, common->GetLocaleID(&locale));
    EXPECT_EQ(static_cast<LCID>(LOCALE_SYSTEM_DEFAULT), locale) << "until the client sets one";

    const std::wstring english = L"The specified property ID is not valid for the item.";
    const std::wstring chinese = L"指定的属性 ID 对该数据项无效。";
    const struct {
        LCID set;
        HRESULT result;
        LCID after;
        const std::wstring& text;
    } cases[] = {
        {0x0804, S_OK, 0x0804, chinese},
        {0x0407, E_INVALIDARG, 0x0804, chinese},  // no German texts: the locale stays
        {0x0409, S_OK, 0x0409, english},
        {LOCALE_USER_DEFAULT, S_OK, LOCALE_USER_DEFAULT, chinese},  // a Chinese user here
        {0x0409, S_OK, 0x0409, english},
        {LOCALE_NEUTRAL, S_OK, LOCALE_NEUTRAL, chinese},                // the user's default
        {LOCALE_SYSTEM_DEFAULT, S_OK, LOCALE_SYSTEM_DEFAULT, chinese},  // code page 936
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, common->SetLocaleID(c.set)) << std::hex << c.set;
        ASSERT_EQ(S_OK, common->GetLocaleID(&locale));
        EXPECT_EQ(c.after, locale) << std::hex << c.set;
        EXPECT_EQ(c.text, CommonErrorString(common.Get(), OPC_E_INVALID_PID)) << std::hex << c.set;
    }
}

TEST(CommonPart, IOPCServerGetErrorStringHonoursItsLocaleAsIOPCCommonDoes)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCCommon> common;
    ASSERT_EQ(S_OK, server.As(&common));
    for (LCID locale :
         {LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT, LOCALE_NEUTRAL, 0x0409ul, 0x0804ul}) {
        ASSERT_EQ(S_OK, common->SetLocaleID(locale));
        TaskOut<wchar_t> text;
        ASSERT_EQ(S_OK, server->GetErrorString(OPC_E_INVALID_PID, locale, text.out()));
        EXPECT_EQ(CommonErrorString(common.Get(), OPC_E_INVALID_PID), text.get())
            << std::hex << locale;
    }
    LPWSTR text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_INVALIDARG, server->GetErrorString(OPC_E_INVALID_PID, 0x0407, &text));
    EXPECT_EQ(nullptr, text);
}

TEST(CommonPart, ErrorStringsAreRefusedWhenMemoryIsShort)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCCommon> common;
    ASSERT_EQ(S_OK, server.As(&common));
    RefusingAllocator allocator;
    LPWSTR text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_OUTOFMEMORY, server->GetErrorString(E_FAIL, 0x0409, &text));
    EXPECT_EQ(nullptr, text);
    text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_OUTOFMEMORY, common->GetErrorString(E_FAIL, &text));
    EXPECT_EQ(nullptr, text);
}

TEST(CommonPart, EachServerObjectKeepsItsOwnLocaleAndClientName)
{
    ComPtr<IOPCServer> first = NewServer(), second = NewServer();
    ComPtr<IOPCCommon> firstCommon, secondCommon;
    ASSERT_EQ(S_OK, first.As(&firstCommon));
    ASSERT_EQ(S_OK, second.As(&secondCommon));
    ASSERT_EQ(S_OK, firstCommon->SetLocaleID(0x0804));
    ASSERT_EQ(S_OK, firstCommon->SetClientName(L"客户一"));
    ASSERT_EQ(S_OK, secondCommon->SetClientName(L"Client 2"));
    EXPECT_EQ(E_INVALIDARG, secondCommon->SetClientName(nullptr));

    std::vector<std::wstring> names;
    std::vector<LCID> locales;
    for (ServerObject* listed : ListServers()) {
        names.push_back(listed->ClientName());
        locales.push_back(listed->LocaleId());
    }
    EXPECT_EQ((std::vector<std::wstring>{L"客户一", L"Client 2"}), names);
    EXPECT_EQ((std::vector<LCID>{0x0804, LOCALE_SYSTEM_DEFAULT}), locales);
}

TEST(CommonPart, MissingPointersAreRefused)
{
    ComPtr<IOPCCommon> common;
    ASSERT_EQ(S_OK, NewServer().As(&common));
    DWORD count = 0;
    LCID* locales = nullptr;
    EXPECT_EQ(E_INVALIDARG, common->GetLocaleID(nullptr));
    EXPECT_EQ(E_INVALIDARG, common->QueryAvailableLocaleIDs(nullptr, &locales));
    EXPECT_EQ(E_INVALIDARG, common->QueryAvailableLocaleIDs(&count, nullptr));
    EXPECT_EQ(E_INVALIDARG, common->GetErrorString(E_FAIL, nullptr));
}

}  // namespace
