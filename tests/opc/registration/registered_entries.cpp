#include "tests/opc/registration/registered_entries.h"

#include "opc_da.h"
#include "server_identity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using registration::ClassesRoot;
using registration::guid_text;
using registration::read_string;

const std::wstring kClassKey = L"CLSID\\" + guid_text(CLSID_ParhelionixOPCServer);
const std::wstring kProxyKey = L"CLSID\\" + guid_text(CLSID_ParhelionixOPCProxy);
const std::wstring kAppIdKey = L"AppID\\" + guid_text(CLSID_ParhelionixOPCServer);
const std::wstring kExecutableAppIdKey = L"AppID\\OPCServer.exe";

namespace {

const std::wstring kCategory = guid_text(CATID_OPCDAServer10);
const std::wstring kCategory20 = guid_text(CATID_OPCDAServer20);
const std::wstring kCategory30 = guid_text(CATID_OPCDAServer30);
const IID* const kInterfaces[] = {&IID_IOPCServer,
                                  &IID_IOPCServerPublicGroups,
                                  &IID_IOPCBrowseServerAddressSpace,
                                  &IID_IOPCGroupStateMgt,
                                  &IID_IOPCPublicGroupStateMgt,
                                  &IID_IOPCSyncIO,
                                  &IID_IOPCAsyncIO,
                                  &IID_IOPCItemMgt,
                                  &IID_IEnumOPCItemAttributes,
                                  &IID_IOPCCommon,
                                  &IID_IOPCShutdown,
                                  &IID_IOPCItemProperties,
                                  &IID_IOPCDataCallback,
                                  &IID_IOPCAsyncIO2,
                                  &IID_IOPCBrowse,
                                  &IID_IOPCItemIO,
                                  &IID_IOPCSyncIO2,
                                  &IID_IOPCAsyncIO3,
                                  &IID_IOPCItemDeadbandMgt,
                                  &IID_IOPCGroupStateMgt2};

struct Entry {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
};

void expect_entries(const ClassesRoot& view, const std::vector<Entry>& entries)
{
    for (const Entry& e : entries) {
        EXPECT_EQ(e.value, read_string(view, e.key, e.name).value_or(L"<missing>"))
            << std::string(e.key.begin(), e.key.end());
    }
}

}  // namespace

bool key_exists(const std::wstring& subkey)
{
    return registration::key_exists(kView64, subkey) || registration::key_exists(kView32, subkey);
}

void expect_registered_in_view(const ClassesRoot& view, const std::wstring& exe,
                               const std::wstring& proxy, const IID* routedElsewhere)
{
    expect_entries(
        view, {
                  {kClassKey, nullptr, L"Parhelionix OPC Server"},
                  {kClassKey, L"AppID", guid_text(CLSID_ParhelionixOPCServer)},
                  {kClassKey + L"\\LocalServer32", nullptr, L"\"" + exe + L"\""},
                  {kClassKey + L"\\ProgID", nullptr, L"Parhelionix.OPCServer.1"},
                  {kClassKey + L"\\VersionIndependentProgID", nullptr, L"Parhelionix.OPCServer"},
                  {kProxyKey + L"\\InprocServer32", nullptr, proxy},
                  {kProxyKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
              });
    for (const std::wstring& category : {kCategory, kCategory20, kCategory30})
        EXPECT_TRUE(
            registration::key_exists(view, kClassKey + L"\\Implemented Categories\\" + category));
    for (const IID* iid : kInterfaces) {
        if (iid == routedElsewhere) continue;
        EXPECT_EQ(
            guid_text(CLSID_ParhelionixOPCProxy),
            read_string(view, L"Interface\\" + guid_text(*iid) + L"\\ProxyStubClsid32", nullptr)
                .value_or(L"<missing>"));
    }
}

// The shared keys are read through the 64-bit view: Wine shows them to 32-bit programs, not to a
// 64-bit one asking for the 32-bit view.
void expect_prog_ids()
{
    const std::wstring clsid = guid_text(CLSID_ParhelionixOPCServer);
    expect_entries(kView64,
                   {
                       {L"Parhelionix.OPCServer.1\\CLSID", nullptr, clsid},
                       {L"Parhelionix.OPCServer\\CLSID", nullptr, clsid},
                       {L"Parhelionix.OPCServer\\CurVer", nullptr, L"Parhelionix.OPCServer.1"},
                   });
}

void expect_app_id()
{
    const std::wstring appId = guid_text(CLSID_ParhelionixOPCServer);
    expect_entries(kView64, {
                                {kAppIdKey, nullptr, L"Parhelionix OPC Server"},
                                {kAppIdKey, L"RunAs", L"Interactive User"},
                                {kExecutableAppIdKey, L"AppID", appId},
                            });
}

void expect_category_descriptions()
{
    expect_entries(kView64, {
                                {L"Component Categories\\" + kCategory, L"409",
                                 L"OPC Data Access Servers Version 1.0"},
                                {L"Component Categories\\" + kCategory20, L"409",
                                 L"OPC Data Access Servers Version 2.0"},
                                {L"Component Categories\\" + kCategory30, L"409",
                                 L"OPC Data Access Servers Version 3.0"},
                            });
}

void expect_nothing_registered(std::initializer_list<const IID*> routedElsewhere)
{
    for (const std::wstring& gone :
         {kClassKey, kProxyKey, kAppIdKey, kExecutableAppIdKey,
          std::wstring(L"Parhelionix.OPCServer.1"), std::wstring(L"Parhelionix.OPCServer")}) {
        EXPECT_FALSE(key_exists(gone)) << std::string(gone.begin(), gone.end());
    }
    for (const IID* iid : kInterfaces) {
        if (std::find(routedElsewhere.begin(), routedElsewhere.end(), iid) != routedElsewhere.end())
            continue;
        EXPECT_FALSE(key_exists(L"Interface\\" + guid_text(*iid)));
    }
}
