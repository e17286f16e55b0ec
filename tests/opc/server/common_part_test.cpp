// IOPCCommon of a server object: the locales it offers, error texts in the chosen locale, the
// client's name per server object; IOPCServer::GetErrorString keeps its own texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/com/error_text.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "opc_error.h"
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

    const struct {
        LCID set;
        HRESULT result;
        LCID after;
    } cases[] = {
        {0x0804, S_OK, 0x0804},
        {0x0407, E_INVALIDARG, 0x0804},  // no German texts: the locale stays
        {0x0409, S_OK, 0x0409},
        {LOCALE_USER_DEFAULT, E_INVALIDARG, 0x0409},
        {LOCALE_SYSTEM_DEFAULT, S_OK, LOCALE_SYSTEM_DEFAULT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, common->SetLocaleID(c.set)) << std::hex << c.set;
        ASSERT_EQ(S_OK, common->GetLocaleID(&locale));
        EXPECT_EQ(c.after, locale) << std::hex << c.set;
        EXPECT_EQ(DescribeError(OPC_E_INVALID_PID, c.after),
                  CommonErrorString(common.Get(), OPC_E_INVALID_PID));
    }
    ASSERT_EQ(S_OK, common->SetLocaleID(0x0804));
    EXPECT_EQ(L"指定的属性 ID 对该数据项无效。",
              CommonErrorString(common.Get(), OPC_E_INVALID_PID));

    // IOPCServer's texts are those of DA 1.0 whatever the locale, given or chosen.
    TaskOut<wchar_t> text;
    ASSERT_EQ(S_OK, server->GetErrorString(OPC_E_INVALID_PID, 0x0804, text.out()));
    EXPECT_EQ(DescribeError(OPC_E_INVALID_PID), text.get());
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

    ServerObject* servers[kServerTableEntries];
    const int count = ListServers(servers);
    std::vector<std::wstring> names;
    std::vector<LCID> locales;
    for (int i = 0; i < count; ++i) {
        names.push_back(servers[i]->ClientName());
        locales.push_back(servers[i]->LocaleId());
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
