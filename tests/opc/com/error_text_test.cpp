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

}  // namespace
