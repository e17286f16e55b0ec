#include <gtest/gtest.h>

#include <olectl.h>

#include <string>

#include "opc/com/error_text.h"
#include "opc_error.h"

namespace {

TEST(ErrorText, OwnTextForEveryCodeTheServerReturns)
{
    const HRESULT codes[] = {
        OPC_E_INVALIDHANDLE,
        OPC_E_BADTYPE,
        OPC_E_INVALIDITEMID,
        OPC_E_DUPLICATENAME,
        E_INVALIDARG,
        E_NOINTERFACE,
        E_OUTOFMEMORY,
        E_FAIL,
        E_NOTIMPL,
        E_POINTER,
        CONNECT_E_ADVISELIMIT,
        DV_E_FORMATETC,
        OLE_E_NOCONNECTION,
        CLASS_E_NOAGGREGATION,
        CO_E_OBJNOTCONNECTED,
        DISP_E_TYPEMISMATCH,
        DISP_E_OVERFLOW,
        DISP_E_BADVARTYPE,
    };
    for (HRESULT code : codes) {
        const std::wstring text = DescribeError(code);
        EXPECT_GT(text.size(), 8u) << std::hex << code;
        EXPECT_EQ(std::wstring::npos, text.find(L"Unknown")) << std::hex << code;
    }
    EXPECT_EQ(L"Duplicate name not allowed.", DescribeError(OPC_E_DUPLICATENAME));
    EXPECT_EQ(L"No such interface supported.", DescribeError(E_NOINTERFACE));
}

TEST(ErrorText, PlatformTextForOtherSystemCodesElseHexadecimal)
{
    const std::wstring text = DescribeError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::wstring::npos, text.find(L"Unknown error code"));
    EXPECT_NE(L'\n', text.back());
    EXPECT_EQ(L"Unknown error code 0xA0F0BEEF.", DescribeError(static_cast<HRESULT>(0xA0F0BEEF)));
}

TEST(ErrorText, TextsInEachOfferedLocale)
{
    const struct {
        HRESULT code;
        LCID locale;
        std::wstring text;
    } cases[] = {
        // The tests run in a session of code page 936.
        {OPC_E_INVALID_PID, LOCALE_SYSTEM_DEFAULT, L"指定的属性 ID 对该数据项无效。"},
        {OPC_E_INVALID_PID, 0x0409, L"The specified property ID is not valid for the item."},
        {OPC_E_INVALID_PID, kChineseLocale, L"指定的属性 ID 对该数据项无效。"},
        {OPC_E_DUPLICATENAME, kChineseLocale, L"不允许重复的名称。"},
        {CONNECT_E_NOCONNECTION, kChineseLocale, L"此连接点没有该连接。"},
        {static_cast<HRESULT>(0xA0F0BEEF), kChineseLocale, L"未知的错误代码 0xA0F0BEEF。"},
        {static_cast<HRESULT>(0xA0F0BEEF), 0x0409, L"Unknown error code 0xA0F0BEEF."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, DescribeError(c.code, c.locale)) << std::hex << c.code << " " << c.locale;
    }
    for (LCID locale :
         {LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT, LOCALE_NEUTRAL, 0x0409ul, 0x0804ul})
        EXPECT_TRUE(HasErrorTexts(locale)) << locale;
    for (LCID locale : {0x0407ul, 0x0404ul, 0x0004ul})
        EXPECT_FALSE(HasErrorTexts(locale)) << locale;
}

TEST(ErrorText, DefaultLocalesFollowTheSystemsCodePageOrTheUsersLanguage)
{
    constexpr LANGID kUserChinese = 0x0804, kUserSingapore = 0x1004, kUserTaiwan = 0x0404,
                     kUserEnglish = 0x0409;
    const struct {
        LCID locale;
        UINT codePage;
        LANGID userLanguage;
        LCID texts;
    } cases[] = {
        {LOCALE_SYSTEM_DEFAULT, 936, kUserEnglish, kChineseLocale},
        {LOCALE_SYSTEM_DEFAULT, 1252, kUserChinese, kEnglishLocale},
        {LOCALE_SYSTEM_DEFAULT, 950, kUserTaiwan, kEnglishLocale},
        {LOCALE_USER_DEFAULT, 1252, kUserChinese, kChineseLocale},
        {LOCALE_USER_DEFAULT, 1252, kUserSingapore, kChineseLocale},
        {LOCALE_USER_DEFAULT, 936, kUserEnglish, kEnglishLocale},
        {LOCALE_USER_DEFAULT, 950, kUserTaiwan, kEnglishLocale},
        {LOCALE_NEUTRAL, 1252, kUserChinese, kChineseLocale},
        {LOCALE_NEUTRAL, 936, kUserEnglish, kEnglishLocale},
        {kEnglishLocale, 936, kUserChinese, kEnglishLocale},
        {kChineseLocale, 1252, kUserEnglish, kChineseLocale},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.texts, TextLocale(c.locale, c.codePage, c.userLanguage))
            << std::hex << c.locale << " " << std::dec << c.codePage << " " << std::hex
            << c.userLanguage;
    }
}

TEST(ErrorText, EveryOwnTextHasAChineseOne)
{
    for (HRESULT code : {S_OK, OPC_E_INVALIDHANDLE, OPC_E_UNKNOWNITEMID, OPC_S_CLAMP,
                         OPC_SERVER_E_VIEWER_NOT_RUNNING, E_INVALIDARG, CONNECT_E_CANNOTCONNECT,
                         DISP_E_BADVARTYPE}) {
        const std::wstring chinese = DescribeError(code, kChineseLocale);
        EXPECT_NE(DescribeError(code), chinese) << std::hex << code;
        EXPECT_TRUE(chinese.find_first_of(L"的不无效操作连接") != std::wstring::npos)
            << std::hex << code;
    }
}

}  // namespace
