#include "opc/values/value_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "variant_maker.h"

namespace {

TEST(CheckScalarType, SortsTypesIntoTakenRefusedAndInvalid)
{
    const struct {
        VARTYPE vt;
        HRESULT expected;
    } cases[] = {
        {VT_EMPTY, S_OK},
        {VT_I2, S_OK},
        {VT_I4, S_OK},
        {VT_R4, S_OK},
        {VT_R8, S_OK},
        {VT_BSTR, S_OK},
        {VT_BOOL, S_OK},
        {VT_DECIMAL, S_OK},
        {VT_UI8, S_OK},
        {VT_UINT, S_OK},
        {VT_DISPATCH, DISP_E_TYPEMISMATCH},
        {VT_UNKNOWN, DISP_E_TYPEMISMATCH},
        {VT_VARIANT, DISP_E_TYPEMISMATCH},
        {VT_RECORD, DISP_E_TYPEMISMATCH},
        {VT_BYREF | VT_I4, DISP_E_TYPEMISMATCH},
        {VT_BYREF | VT_VARIANT, DISP_E_TYPEMISMATCH},
        {VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH},
        {VT_ARRAY | VT_BYREF | VT_BSTR, DISP_E_TYPEMISMATCH},
        {VT_VECTOR | VT_I4, DISP_E_BADVARTYPE},
        {VT_RESERVED | VT_I4, DISP_E_BADVARTYPE},
        {VT_BYREF | 0x0FFF, DISP_E_BADVARTYPE},
        {15, DISP_E_BADVARTYPE},
        {VT_LPWSTR, DISP_E_BADVARTYPE},
        {VT_BLOB, DISP_E_BADVARTYPE},
        {0xFFFF, DISP_E_BADVARTYPE},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, CheckScalarType(c.vt)) << c.vt;
}

std::wstring Text(const VARIANT& v)
{
    return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring();
}

// The platform's coercion as clients meet it: rounding halves to even, overflow, text read as
// numbers, VT_BOOL both ways.
TEST(ConvertValue, CoercesWithTheAutomationRules)
{
    const struct {
        const char* label;
        VariantOwner value;
        VARTYPE type;
        HRESULT hr;
        LONGLONG number;      // the result read as the target type, for numeric targets
        const wchar_t* text;  // for VT_BSTR targets
    } cases[] = {
        {"3.5 rounds up", R8(3.5), VT_I4, S_OK, 4, nullptr},
        {"2.5 rounds to even", R8(2.5), VT_I4, S_OK, 2, nullptr},
        {"-2.5 rounds to even", R8(-2.5), VT_I4, S_OK, -2, nullptr},
        {"1e10 overflows I4", R8(1e10), VT_I4, DISP_E_OVERFLOW, 0, nullptr},
        {"70000 overflows I2", I4(70000), VT_I2, DISP_E_OVERFLOW, 0, nullptr},
        {"text to integer", Bstr(L"-17"), VT_I4, S_OK, -17, nullptr},
        {"non-number text", Bstr(L"abc"), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {"empty text", Bstr(L""), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {"integer 1 to bool", I4(1), VT_BOOL, S_OK, VARIANT_TRUE, nullptr},
        {"integer 0 to bool", I4(0), VT_BOOL, S_OK, VARIANT_FALSE, nullptr},
        {"true to integer", Bool(VARIANT_TRUE), VT_I4, S_OK, -1, nullptr},
        {"bool word 1 to integer", Bool(1), VT_I4, S_OK, 1, nullptr},
        {"true to text", Bool(VARIANT_TRUE), VT_BSTR, S_OK, 0, L"-1"},
        {"integer to text", I4(42), VT_BSTR, S_OK, 0, L"42"},
        {"same type", I4(7), VT_I4, S_OK, 7, nullptr},
        {"text to real", Bstr(L"12.5"), VT_R4, S_OK, 0x41480000, nullptr},  // 12.5f
    };
    for (const auto& c : cases) {
        VariantOwner out = I4(12345);
        EXPECT_EQ(c.hr, ConvertValue(c.value.get(), c.type, out.Receive())) << c.label;
        if (FAILED(c.hr)) {
            EXPECT_EQ(VT_EMPTY, out.vt()) << c.label;
            continue;
        }
        ASSERT_EQ(c.type, out.vt()) << c.label;
        switch (c.type) {
        case VT_I4:
        case VT_R4:
            EXPECT_EQ(c.number, out.get().lVal) << c.label;
            break;
        case VT_BOOL:
            EXPECT_EQ(c.number, out.get().boolVal) << c.label;
            break;
        case VT_BSTR:
            EXPECT_EQ(std::wstring(c.text), Text(out.get())) << c.label;
            break;
        default:
            break;
        }
    }
}

TEST(ConvertValue, NullTextIsTheEmptyString)
{
    VARIANT nullText{};
    nullText.vt = VT_BSTR;
    nullText.bstrVal = nullptr;
    VariantOwner out;
    ASSERT_EQ(S_OK, ConvertValue(nullText, VT_BSTR, out.Receive()));
    ASSERT_EQ(VT_BSTR, out.vt());
    EXPECT_EQ(0u, SysStringLen(out.get().bstrVal));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, ConvertValue(nullText, VT_I4, out.Receive()));
}

// An object that counts every call into it; none may come.
class UntouchableObject : public IDispatch {
public:
    int calls = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return Touched(); }
    ULONG STDMETHODCALLTYPE AddRef() override { return Touched(); }
    ULONG STDMETHODCALLTYPE Release() override { return Touched(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Touched(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Touched(); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return Touched();
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        return Touched();
    }

private:
    HRESULT Touched() { return ++calls, E_FAIL; }
};

// Client VARIANTs that point outside themselves are refused before anything follows the
// pointer: the pointers here lead nowhere, and following one would crash the test.
TEST(ConvertValue, RefusesClientValuesThatPointOutside)
{
    UntouchableObject object;
    const LONGLONG nowhere = 0x10;
    const struct {
        VARTYPE vt;
        LONGLONG bits;
        HRESULT hr;
    } cases[] = {
        {VT_BYREF | VT_I4, nowhere, DISP_E_TYPEMISMATCH},
        {VT_BYREF | VT_BSTR, nowhere, DISP_E_TYPEMISMATCH},
        {VT_BYREF | VT_VARIANT, nowhere, DISP_E_TYPEMISMATCH},
        {VT_ARRAY | VT_I4, nowhere, DISP_E_TYPEMISMATCH},
        {VT_ARRAY | VT_BYREF | VT_I4, nowhere, DISP_E_TYPEMISMATCH},
        {VT_DISPATCH, reinterpret_cast<LONGLONG>(static_cast<IDispatch*>(&object)),
         DISP_E_TYPEMISMATCH},
        {VT_UNKNOWN, reinterpret_cast<LONGLONG>(static_cast<IUnknown*>(&object)),
         DISP_E_TYPEMISMATCH},
        {VT_RECORD, nowhere, DISP_E_TYPEMISMATCH},
        {VT_VECTOR | VT_I4, nowhere, DISP_E_BADVARTYPE},
        {0x7FFF, nowhere, DISP_E_BADVARTYPE},
        {VT_LPSTR, nowhere, DISP_E_BADVARTYPE},
    };
    for (const VARTYPE target : {VARTYPE(VT_I4), VARTYPE(VT_BSTR), VARTYPE(VT_BOOL)}) {
        for (const auto& c : cases) {
            VARIANT client{};  // never cleared: nothing in it is ours
            client.vt = c.vt;
            client.llVal = c.bits;
            VariantOwner out = Bstr(L"previous");
            EXPECT_EQ(c.hr, ConvertValue(client, target, out.Receive())) << c.vt;
            EXPECT_EQ(VT_EMPTY, out.vt());
        }
    }
    EXPECT_EQ(0, object.calls);
}

// A converted value goes to clients byte for byte (in streams and replies): nothing of what the
// memory held before, the caller's or the conversion's own, may remain beside the type and the
// value.
TEST(ConvertValue, ConvertedValueCarriesNoStaleBytes)
{
    const struct {
        VARTYPE type;
        size_t valueBytes;
    } cases[] = {{VT_I2, 2}, {VT_UI1, 1}, {VT_R4, 4}, {VT_BOOL, 2}, {VT_R8, 8}, {VT_BSTR, 8}};
    for (const auto& c : cases) {
        alignas(VariantOwner) unsigned char memory[sizeof(VariantOwner)];
        std::memset(memory, 0xCC, sizeof memory);
        auto* owner = new (memory) VariantOwner;
        ASSERT_EQ(S_OK, ConvertValue(R8(2.0).get(), c.type, owner->Receive())) << c.type;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&owner->get());
        const size_t valueAt = offsetof(VARIANT, llVal);
        for (size_t i = sizeof(VARTYPE); i < sizeof(VARIANT); ++i) {
            if (i >= valueAt && i < valueAt + c.valueBytes) continue;
            EXPECT_EQ(0, bytes[i]) << "type " << c.type << ", byte " << i;
        }
        owner->~VariantOwner();
    }
}

}  // namespace
