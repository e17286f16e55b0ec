#include "opc/values/item_value.h"
#include "opc_error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "opc_da.h"
#include "runtime_link/tag_record.h"
#include "variant_maker.h"

namespace {

std::wstring Text(const VARIANT& v)
{
    return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring();
}

MirrorEntry EntryOfKind(int32_t kind)
{
    MirrorEntry entry{};
    entry.kind = kind;
    return entry;
}

TEST(CanonicalTypeOfKind, MapsEachKind)
{
    const struct {
        int32_t kind;
        VARTYPE vt;
    } cases[] = {
        {kValueKindNone, VT_EMPTY},
        {kValueKindDiscrete, VT_BOOL},
        {kValueKindInteger, VT_I4},
        {kValueKindReal, VT_R4},
        {kValueKindString, VT_BSTR},
        {5, VT_EMPTY},
        {-1, VT_EMPTY},
    };
    for (const auto& c : cases) EXPECT_EQ(c.vt, CanonicalTypeOfKind(c.kind)) << c.kind;
}

TEST(ValueOfMirrorEntry, TakesTheWordAsItsKindHoldsIt)
{
    const struct {
        int32_t kind;
        int32_t word;
        VARTYPE vt;
        LONGLONG expected;
    } cases[] = {
        {kValueKindDiscrete, 1, VT_BOOL, 1},  // not normalised to VARIANT_TRUE
        {kValueKindDiscrete, 0, VT_BOOL, 0},
        {kValueKindDiscrete, -1, VT_BOOL, -1},
        {kValueKindDiscrete, 0x12345678, VT_BOOL, 0x5678},  // the low 16 bits only
        {kValueKindInteger, -123456, VT_I4, -123456},
        {kValueKindInteger, 0x7FFFFFFF, VT_I4, 0x7FFFFFFF},
        {kValueKindReal, 0x7FC00001, VT_R4, 0x7FC00001},  // a NaN, bit for bit
        {kValueKindReal, 0x3F800000, VT_R4, 0x3F800000},  // 1.0f
        {kValueKindNone, 99, VT_EMPTY, 0},
    };
    for (const auto& c : cases) {
        MirrorEntry entry = EntryOfKind(c.kind);
        entry.value.integer = c.word;
        VariantOwner value = Bstr(L"previous");
        ASSERT_EQ(S_OK, ValueOfMirrorEntry(entry, value.Receive()));
        EXPECT_EQ(c.vt, value.vt()) << c.kind << " " << c.word;
        LONGLONG got = 0;
        if (c.vt == VT_BOOL) got = value.get().boolVal;
        if (c.vt == VT_I4 || c.vt == VT_R4) got = value.get().lVal;
        EXPECT_EQ(c.expected, got) << c.kind << " " << c.word;
    }
}

TEST(ValueOfMirrorEntry, CopiesTheText)
{
    const std::wstring longest(kMirrorTextUnits, L'\x6C34');
    for (const std::wstring& text : {std::wstring(L"abc"), std::wstring(), longest}) {
        MirrorEntry entry = EntryOfKind(kValueKindString);
        std::wmemcpy(entry.value.text, text.data(), text.size());
        VariantOwner value;
        ASSERT_EQ(S_OK, ValueOfMirrorEntry(entry, value.Receive()));
        ASSERT_EQ(VT_BSTR, value.vt());
        EXPECT_EQ(text, Text(value.get()));
        EXPECT_NE(static_cast<void*>(entry.value.text), value.get().bstrVal);
    }
}

// The text kept in an entry after a client's string is posted into it; the guard behind the
// entry shows any write beyond its field.
std::wstring PostedText(const std::wstring& text)
{
    struct {
        MirrorEntry entry;
        wchar_t guard[8];
    } guarded;
    guarded.entry = EntryOfKind(kValueKindString);
    std::wmemset(guarded.entry.value.text, L'#', kMirrorStringUnits);
    std::wmemset(guarded.guard, L'#', 8);
    StoreValueInMirrorEntry(Bstr(text).get(), guarded.entry);
    EXPECT_EQ(std::wstring(8, L'#'), std::wstring(guarded.guard, 8)) << "nothing beyond the field";
    const size_t units = wcsnlen(guarded.entry.value.text, kMirrorStringUnits);
    EXPECT_LT(units, static_cast<size_t>(kMirrorStringUnits)) << "terminated within the field";
    return std::wstring(guarded.entry.value.text, units);
}

TEST(StoreValueInMirrorEntry, CutsLongTextToTheFieldWithoutSplittingAPair)
{
    const std::wstring fits(kMirrorTextUnits, L'a');
    const std::wstring pairAtTheCut = std::wstring(kMirrorTextUnits - 1, L'a') + L"\xD83D\xDE00";
    const std::wstring pairBeforeTheCut =
        std::wstring(kMirrorTextUnits - 2, L'a') + L"\xD83D\xDE00" + L"zz";
    const struct {
        const char* label;
        std::wstring text;
        std::wstring kept;
    } cases[] = {
        {"short", L"abc", L"abc"},
        {"empty", L"", L""},
        {"exactly the field", fits, fits},
        {"one unit too long", fits + L"b", fits},
        {"far too long", std::wstring(5000, L'c'), std::wstring(kMirrorTextUnits, L'c')},
        {"pair across the cut", pairAtTheCut, pairAtTheCut.substr(0, kMirrorTextUnits - 1)},
        {"pair ends at the cut", pairBeforeTheCut, pairBeforeTheCut.substr(0, kMirrorTextUnits)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.kept, PostedText(c.text)) << c.label;
}

TEST(StoreValueInMirrorEntry, StoresEachTypeInTheWord)
{
    const struct {
        const char* label;
        VariantOwner value;
        int32_t word;
    } cases[] = {
        {"integer", I4(-77), -77},
        {"bool true widened with sign", Bool(VARIANT_TRUE), -1},
        {"bool word 1", Bool(1), 1},
        {"real bit for bit", R4(12.5f), 0x41480000},
        {"other type stores nothing", R8(3.0), 0x55555555},
    };
    for (const auto& c : cases) {
        MirrorEntry entry = EntryOfKind(kValueKindInteger);
        entry.value.integer = 0x55555555;
        StoreValueInMirrorEntry(c.value.get(), entry);
        EXPECT_EQ(c.word, entry.value.integer) << c.label;
    }
    MirrorEntry entry = EntryOfKind(kValueKindString);
    VARIANT nullText{};
    nullText.vt = VT_BSTR;
    StoreValueInMirrorEntry(nullText, entry);
    EXPECT_EQ(L'\0', entry.value.text[0]) << "a null BSTR is the empty string";
}

TEST(ReadQuality, FollowsSourceAndActiveFlag)
{
    const struct {
        DWORD source;
        bool active;
        WORD quality;
    } cases[] = {
        {OPC_DS_CACHE, true, OPC_QUALITY_GOOD},  {OPC_DS_CACHE, false, OPC_QUALITY_OUT_OF_SERVICE},
        {OPC_DS_DEVICE, true, OPC_QUALITY_GOOD}, {OPC_DS_DEVICE, false, OPC_QUALITY_GOOD},
        {0, false, OPC_QUALITY_OUT_OF_SERVICE},  {7, true, OPC_QUALITY_GOOD},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.quality, ReadQuality(c.source, c.active, OPC_QUALITY_GOOD))
            << c.source << c.active;
    }
}

// A value's age against what a reader allows: kAnyAge takes any value, even one never taken;
// 0 only a value taken within this millisecond.
TEST(MaxAge, AValueServesReadsThatAllowItsAge)
{
    const ULONGLONG now = GetTickCount64();
    const struct {
        ULONGLONG takenAt;
        DWORD maxAge;
        bool within;
    } cases[] = {
        {0, kAnyAge, true},        {0, 1000000, false},       {now - 5000, kAnyAge, true},
        {now - 5000, 60000, true}, {now - 5000, 1000, false}, {now - 5000, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.within, WithinMaxAge(c.takenAt, c.maxAge))
            << now - c.takenAt << " " << c.maxAge;
    }
    OPCITEMVQT vqt = {};
    EXPECT_EQ(S_OK, VqtWritable(vqt)) << "a value alone";
    vqt.bQualitySpecified = TRUE;
    EXPECT_EQ(OPC_E_NOTSUPPORTED, VqtWritable(vqt));
    vqt = {};
    vqt.bTimeStampSpecified = TRUE;
    EXPECT_EQ(OPC_E_NOTSUPPORTED, VqtWritable(vqt));
}

TEST(ReadItem, DeliversACopyInTheRequestedTypeOrTheCanonicalOneWithBadQuality)
{
    const struct {
        const char* label;
        VariantOwner itemValue;
        VARTYPE requested;
        DWORD source;
        bool active;
        HRESULT hr;
        WORD quality;
        VARTYPE deliveredType;
        const wchar_t* text;  // the delivered value as text
    } cases[] = {
        {"canonical", I4(42), VT_EMPTY, OPC_DS_CACHE, true, S_OK, 0xC0, VT_I4, L"42"},
        {"integer as text", I4(42), VT_BSTR, OPC_DS_CACHE, true, S_OK, 0xC0, VT_BSTR, L"42"},
        {"real rounded to even", R4(2.5f), VT_I4, OPC_DS_CACHE, true, S_OK, 0xC0, VT_I4, L"2"},
        {"inactive from cache", I4(1), VT_EMPTY, OPC_DS_CACHE, false, S_OK, 0x1C, VT_I4, L"1"},
        {"inactive from device", I4(1), VT_EMPTY, OPC_DS_DEVICE, false, S_OK, 0xC0, VT_I4, L"1"},
        {"text not a number", Bstr(L"abc"), VT_I4, OPC_DS_CACHE, true, DISP_E_TYPEMISMATCH, 0x00,
         VT_BSTR, L"abc"},
        {"failure wins over out of service", Bstr(L"abc"), VT_R4, OPC_DS_CACHE, false,
         DISP_E_TYPEMISMATCH, 0x00, VT_BSTR, L"abc"},
        {"overflow", I4(100000), VT_I2, OPC_DS_CACHE, true, DISP_E_OVERFLOW, 0x00, VT_I4,
         L"100000"},
        {"impossible type", I4(3), 0x7FFF, OPC_DS_CACHE, true, DISP_E_BADVARTYPE, 0x00, VT_I4,
         L"3"},
        {"by-reference type", I4(3), VT_BYREF | VT_I4, OPC_DS_CACHE, true, DISP_E_TYPEMISMATCH,
         0x00, VT_I4, L"3"},
    };
    for (const auto& c : cases) {
        const ItemReadSource item{&c.itemValue.get(), c.requested, OPC_QUALITY_GOOD, c.active};
        VariantOwner delivered = Bstr(L"previous");
        WORD quality = 0xFFFF;
        EXPECT_EQ(c.hr, ReadItem(item, c.source, delivered.Receive(), &quality)) << c.label;
        EXPECT_EQ(c.quality, quality) << c.label;
        ASSERT_EQ(c.deliveredType, delivered.vt()) << c.label;
        VariantOwner asText;
        ASSERT_EQ(S_OK, VariantChangeType(asText.Receive(), const_cast<VARIANT*>(&delivered.get()),
                                          0, VT_BSTR));
        EXPECT_EQ(std::wstring(c.text), std::wstring(asText.get().bstrVal)) << c.label;
        if (c.itemValue.vt() == VT_BSTR) {
            EXPECT_NE(c.itemValue.get().bstrVal, delivered.get().bstrVal) << "a separate copy";
        }
    }
}

TEST(ReadItem, EachOutputIsOptionalAndTheItemKeepsItsValue)
{
    VariantOwner itemValue = Bstr(L"abc");
    const ItemReadSource item{&itemValue.get(), VT_I4, OPC_QUALITY_GOOD, false};
    WORD quality = 0;
    EXPECT_EQ(S_OK, ReadItem(item, OPC_DS_CACHE, nullptr, &quality));
    EXPECT_EQ(OPC_QUALITY_OUT_OF_SERVICE, quality);
    VariantOwner delivered;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, ReadItem(item, OPC_DS_CACHE, delivered.Receive(), nullptr));
    EXPECT_EQ(S_OK, ReadItem(item, OPC_DS_CACHE, nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, itemValue.vt());
    EXPECT_EQ(std::wstring(L"abc"), std::wstring(itemValue.get().bstrVal));
}

}  // namespace
