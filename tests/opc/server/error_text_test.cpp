#include <gtest/gtest.h>

#include <olectl.h>

#include <string>

#include "opc/server/error_text.h"
#include "opc_error.h"

namespace {

TEST(ErrorText, OwnTextForEveryCodeTheServerReturns)
{
    struct Case {
        HRESULT code;
        const wchar_t* text;
    };
    const Case cases[] = {
        {OPC_E_INVALIDHANDLE, L"The value of the handle is invalid."},
        {OPC_E_DUPLICATENAME, L"Duplicate name not allowed."},
        {OPC_E_BADTYPE, nullptr},
        {OPC_E_INVALIDITEMID, nullptr},
        {E_INVALIDARG, L"One or more arguments are invalid."},
        {E_NOINTERFACE, L"No such interface supported."},
        {E_OUTOFMEMORY, nullptr},
        {E_FAIL, L"Unspecified error."},
        {E_NOTIMPL, L"Not implemented."},
        {E_POINTER, L"Invalid pointer."},
        {CONNECT_E_ADVISELIMIT, nullptr},
        {DV_E_FORMATETC, L"Invalid FORMATETC structure."},
        {OLE_E_NOCONNECTION, nullptr},
        {CLASS_E_NOAGGREGATION, nullptr},
        {CO_E_OBJNOTCONNECTED, L"Object is not connected to server."},
        {DISP_E_TYPEMISMATCH, L"Type mismatch."},
        {DISP_E_OVERFLOW, L"Out of present range."},
        {DISP_E_BADVARTYPE, L"Bad variable type."},
    };
    for (const Case& c : cases) {
        const std::wstring text = DescribeError(c.code);
        if (c.text) {
            EXPECT_EQ(c.text, text) << std::hex << c.code;
        }
        EXPECT_GT(text.size(), 8u) << std::hex << c.code;
        EXPECT_EQ(std::wstring::npos, text.find(L"Unknown")) << std::hex << c.code;
    }
}

TEST(ErrorText, PlatformTextForOtherSystemCodes)
{
    const std::wstring text = DescribeError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(std::wstring::npos, text.find(L"Unknown error code"));
    EXPECT_FALSE(text.empty());
    EXPECT_NE(L'\n', text.back());
}

TEST(ErrorText, HexadecimalForCodesNobodyKnows)
{
    EXPECT_EQ(L"Unknown error code 0xA0F0BEEF.", DescribeError(static_cast<HRESULT>(0xA0F0BEEF)));
}

}  // namespace
