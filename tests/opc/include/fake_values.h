// The fixed, recognisable values the fake OPC server answers with, shared by the fake and the
// test that checks they arrive intact in another process.
#pragma once

#include "opc_da.h"
#include "opc_error.h"

#include <oleauto.h>

#include <string>

namespace fake {

// {14141FA8-6BBD-4553-8C4E-2AAB6998D91A}: the fake server's class, never the product's.
inline constexpr CLSID kClsid = {
    0x14141fa8, 0x6bbd, 0x4553, {0x8c, 0x4e, 0x2a, 0xab, 0x69, 0x98, 0xd9, 0x1a}};
inline constexpr wchar_t kExeName[] = L"opc_fake_server.exe";

// IOPCServer
inline constexpr OPCHANDLE kFirstServerGroup = 0x5A5A0001;
inline constexpr wchar_t kErrorStringPrefix[] = L"错误 Error ";  // + dwError in hex + " @" + LCID
// GetErrorString of this code answers the number of task-allocator blocks alive in the fake.
inline constexpr HRESULT kLiveTaskBlocksCode = static_cast<HRESULT>(0xFA4E0B1C);
inline constexpr wchar_t kVendor[] = L"Parhelionix 测试厂商";
inline constexpr FILETIME kStartTime = {0x11111111, 0x01D00000};
inline constexpr FILETIME kCurrentTime = {0x22222222, 0x01D00001};
inline constexpr FILETIME kLastUpdateTime = {0x33333333, 0x01D00002};
inline constexpr DWORD kGroupCount = 7;
inline constexpr DWORD kBandWidth = 8;
inline constexpr WORD kMajorVersion = 9;
inline constexpr WORD kMinorVersion = 10;
inline constexpr WORD kBuildNumber = 11;
inline constexpr WORD kReserved = 12;
inline constexpr wchar_t kGroupNameA[] = L"分组一";
inline constexpr wchar_t kGroupNameB[] = L"Group2";

// IOPCServerPublicGroups
inline constexpr wchar_t kPublicGroupName[] = L"公共组";
inline constexpr OPCHANDLE kPublicGroupHandle = 0x77;

// IOPCBrowseServerAddressSpace
inline constexpr wchar_t kBranch[] = L"分支";
inline constexpr wchar_t kLeafFilter[] = L"温度*";
inline constexpr wchar_t kLeafA[] = L"温度1";
inline constexpr wchar_t kLeafB[] = L"Temp2";
inline constexpr wchar_t kItemIdPrefix[] = L"分支.";
inline constexpr wchar_t kAccessPath[] = L"路径A";

// IOPCSyncIO / IOPCAsyncIO: a handle the fake does not know.
inline constexpr OPCHANDLE kBadHandle = 0xBAD;
// Client handle reported by Read for item handle h.
inline constexpr OPCHANDLE client_handle_of(OPCHANDLE h)
{
    return h + 1000;
}
// The value an item holds until a client writes it: R4, BOOL or Chinese BSTR by handle.
inline void initial_value(OPCHANDLE h, VARIANT* value)
{
    VariantInit(value);
    switch (h % 3) {
    case 0:
        value->vt = VT_R4;
        value->fltVal = static_cast<float>(h) * 1.5f;
        break;
    case 1:
        value->vt = VT_BOOL;
        value->boolVal = VARIANT_TRUE;
        break;
    default:
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString((L"值" + std::to_wstring(h)).c_str());
    }
}
inline WORD quality_of(OPCHANDLE h)
{
    return h % 2 ? OPC_QUALITY_UNCERTAIN | OPC_QUALITY_LAST_USABLE
                 : OPC_QUALITY_GOOD | OPC_LIMIT_HIGH;
}
inline FILETIME timestamp_of(OPCHANDLE h)
{
    return {h, h + 1};
}
// Asynchronous transaction IDs, derived from the arguments so that the test sees them crossed.
inline constexpr DWORD read_transaction(DWORD connection, DWORD count)
{
    return connection * 0x100 + count;
}
inline constexpr DWORD write_transaction(DWORD connection, DWORD count)
{
    return connection * 0x100 + count + 0x80;
}
inline constexpr DWORD refresh_transaction(DWORD connection, DWORD source)
{
    return connection + source * 0x10000;
}

// IOPCItemMgt: server handles start here; added items' blobs get this byte appended.
inline constexpr OPCHANDLE kFirstItemHandle = 100;
inline constexpr BYTE kBlobMark = 0xEE;
// IEnumOPCItemAttributes: the engineering-unit range given for every item.
inline constexpr double kEuLow = -40.0;
inline constexpr double kEuHigh = 125.5;

// IOPCCommon: the locales offered; GetErrorString answers kErrorStringPrefix + dwError in hex +
// " @" + the locale set + " for " + the client name set.
inline constexpr LCID kLocales[] = {0x409, 0x804, 0x800};
inline constexpr wchar_t kForClient[] = L" for ";

// IOPCItemProperties and IOPCBrowse: the properties of every item; "描述 " + the item ID is the
// description of the third. Other property IDs are answered with OPC_E_INVALID_PID and an empty
// value. LookupItemIDs and IOPCBrowse give property_item_id, or none for properties 1 to 6.
inline constexpr DWORD kPropertyIds[] = {1, 2, 101, 5000};
inline constexpr VARTYPE kPropertyTypes[] = {VT_I2, VT_R4, VT_BSTR, VT_BOOL};
inline constexpr wchar_t kCanonicalTypeText[] = L"Item Canonical DataType";
inline constexpr wchar_t kValueText[] = L"";  // an empty string crosses as one
inline constexpr wchar_t kDescriptionPrefix[] = L"描述 ";
inline constexpr wchar_t kAlarmText[] = L"报警 Alarm enabled";
inline constexpr DWORD kUnknownProperty = 7777;
inline constexpr float kPropertyValue = 42.25f;
inline std::wstring property_description(size_t index, const std::wstring& item)
{
    const std::wstring descriptions[] = {kCanonicalTypeText, kValueText, kDescriptionPrefix + item,
                                         kAlarmText};
    return descriptions[index];
}
// The value of property `id` of `item`; false for a property the fake does not know.
inline bool property_value(DWORD id, const std::wstring& item, VARIANT* value)
{
    VariantInit(value);
    switch (id) {
    case 1:
        value->vt = VT_I2;
        value->iVal = VT_R4;
        return true;
    case 2:
        value->vt = VT_R4;
        value->fltVal = kPropertyValue;
        return true;
    case 101:
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString((kDescriptionPrefix + item).c_str());
        return true;
    case 5000:
        value->vt = VT_BOOL;
        value->boolVal = VARIANT_TRUE;
        return true;
    default:
        return false;
    }
}
inline std::wstring property_item_id(const std::wstring& item, DWORD id)
{
    return item + L"." + std::to_wstring(id);
}

// IOPCBrowse: what Browse lists under kBranch, in this order, each with the item ID
// kItemIdPrefix + its name; only items have properties. GetProperties knows every item ID that
// begins with kItemIdPrefix. A continuation point is kContinuationPrefix + the index of the next
// entry + its name, so that it grows and shrinks from page to page.
struct BrowseEntry {
    const wchar_t* name;
    DWORD flags;
};
inline constexpr BrowseEntry kBrowseEntries[] = {
    {L"子分支", OPC_BROWSE_HASCHILDREN},
    {kLeafA, OPC_BROWSE_ISITEM},
    {L"带子项的项 item with children", OPC_BROWSE_ISITEM | OPC_BROWSE_HASCHILDREN},
    {kLeafB, OPC_BROWSE_ISITEM},
    {L"末", OPC_BROWSE_ISITEM},
};
inline constexpr wchar_t kContinuationPrefix[] = L"续";
inline std::wstring continuation_point(size_t next)
{
    return kContinuationPrefix + std::to_wstring(next) + L" " + kBrowseEntries[next].name;
}

// IOPCItemIO: the item ID of the item of handle h; IOPCItemIO knows no other item IDs.
inline std::wstring item_id_of(OPCHANDLE h)
{
    return kItemIdPrefix + std::to_wstring(h);
}
// IOPCItemIO and IOPCSyncIO2 read with a maximum age: an item no client has written with a
// timestamp is stamped with its handle and the age asked.
inline FILETIME max_age_timestamp(OPCHANDLE h, DWORD maxAge)
{
    return {h, maxAge};
}
// IOPCAsyncIO3: the cancel ID of ReadMaxAge and RefreshMaxAge, from every maximum age in order.
inline DWORD max_age_cancel_id(DWORD transaction, const DWORD* maxAges, DWORD count)
{
    DWORD id = transaction;
    for (DWORD i = 0; i < count; ++i) id = id * 31 + maxAges[i];
    return id;
}

// IOPCGroupStateMgt2: the keep-alive time is revised to one more than asked (0 stays off).
inline constexpr DWORD revised_keep_alive(DWORD asked)
{
    return asked ? asked + 1 : 0;
}
// IOPCItemDeadbandMgt: deadbands outside 0..100 are refused with E_INVALIDARG; an item without
// one answers this code (standing for the deadband-not-set code).
inline constexpr HRESULT kDeadbandNotSet = OPC_E_NOTFOUND;

// The fake's connection points call every method of the sink as soon as it is advised, with
// these arguments, and answer Advise with kCookie.
inline constexpr DWORD kCookie = 0x5151;
inline constexpr wchar_t kShutdownReason[] = L"服务器关闭 shutting down";
inline constexpr DWORD kCallbackTransaction = 0x7001;
inline constexpr OPCHANDLE kCallbackGroup = 0x6006;
inline constexpr HRESULT kMasterQuality = S_FALSE;
inline constexpr HRESULT kMasterError = OPC_E_BADRIGHTS;
inline constexpr DWORD kCallbackCount = 3;  // items with handles 1..3: values by initial_value
inline constexpr DWORD kCancelTransaction = 0x7002;
inline HRESULT callback_error_of(OPCHANDLE h)
{
    return h == 2 ? OPC_E_BADTYPE : S_OK;
}

}  // namespace fake
