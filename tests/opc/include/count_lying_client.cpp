// count_lying_client.exe: a client of the running OPC server whose proxies lie about the size of
// every [in] array. It registers the lying proxy (lying_proxy_factory.h) for its own process
// only, adds a group with one item, and makes each call named on its command line with a count
// of 100000 and one element. For each it prints "<call> 0x<HRESULT> unchanged" when the group
// still holds its one item afterwards and answers a read of it ("changed" otherwise). Exit code
// 0 when every call was made, 1 when the set-up failed, 2 for a call it does not know.
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>
#include <functional>

#include "lying_proxy_factory.h"
#include "opc_da.h"
#include "server_identity.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kClaimedCount = 100000;

// What the calls work on: the server, a group and its item.
struct Target {
    ComPtr<IOPCServer> server;
    ComPtr<IUnknown> group;
    OPCHANDLE item = 0;
    OPCHANDLE client = 1;
    LPWSTR itemId = const_cast<LPWSTR>(L"Level");
};

// Calls `method` with the object's `Interface`; the failure of the QueryInterface otherwise (a
// server that has gone answers no more).
template <typename Interface, typename Method>
HRESULT Through(IUnknown* object, Method method)
{
    ComPtr<Interface> part;
    const HRESULT hr = object->QueryInterface(IID_PPV_ARGS(&part));
    return SUCCEEDED(hr) ? method(part.Get()) : hr;
}

// Frees what a call handed back should the server have answered it.
struct Outputs {
    void* blocks[4] = {};
    ~Outputs()
    {
        for (void* block : blocks) CoTaskMemFree(block);
    }
    template <typename T>
    T** at(int i)
    {
        return reinterpret_cast<T**>(&blocks[i]);
    }
};

struct LyingCall {
    const wchar_t* name;
    std::function<HRESULT(Target&, Outputs&)> call;
};

OPCITEMDEF LevelDefinition(Target& t)
{
    OPCITEMDEF definition{};
    definition.szAccessPath = const_cast<LPWSTR>(L"");
    definition.szItemID = t.itemId;
    definition.bActive = TRUE;
    definition.hClient = t.client;
    return definition;
}

OPCITEMVQT LevelWrite()
{
    OPCITEMVQT vqt{};
    vqt.vDataValue.vt = VT_R8;
    vqt.vDataValue.dblVal = 1.5;
    return vqt;
}

// Each method with an [in] array the server serves, called with kClaimedCount and one element.
const LyingCall kCalls[] = {
    {L"ItemMgt.AddItems",
     [](Target& t, Outputs& o) {
         OPCITEMDEF definition = LevelDefinition(t);
         return Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
             return part->AddItems(kClaimedCount, &definition, o.at<OPCITEMRESULT>(0),
                                   o.at<HRESULT>(1));
         });
     }},
    {L"ItemMgt.ValidateItems",
     [](Target& t, Outputs& o) {
         OPCITEMDEF definition = LevelDefinition(t);
         return Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
             return part->ValidateItems(kClaimedCount, &definition, FALSE, o.at<OPCITEMRESULT>(0),
                                        o.at<HRESULT>(1));
         });
     }},
    {L"ItemMgt.RemoveItems",
     [](Target& t, Outputs& o) {
         return Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
             return part->RemoveItems(kClaimedCount, &t.item, o.at<HRESULT>(0));
         });
     }},
    {L"ItemMgt.SetActiveState",
     [](Target& t, Outputs& o) {
         return Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
             return part->SetActiveState(kClaimedCount, &t.item, FALSE, o.at<HRESULT>(0));
         });
     }},
    {L"ItemMgt.SetClientHandles",
     [](Target& t, Outputs& o) {
         return Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
             return part->SetClientHandles(kClaimedCount, &t.item, &t.client, o.at<HRESULT>(0));
         });
     }},
    {L"ItemMgt.SetDatatypes",
     [](Target& t, Outputs& o) {
         VARTYPE type = VT_BSTR;
         return Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
             return part->SetDatatypes(kClaimedCount, &t.item, &type, o.at<HRESULT>(0));
         });
     }},
    {L"SyncIO.Read",
     [](Target& t, Outputs& o) {
         return Through<IOPCSyncIO>(t.group.Get(), [&](IOPCSyncIO* part) {
             return part->Read(OPC_DS_DEVICE, kClaimedCount, &t.item, o.at<OPCITEMSTATE>(0),
                               o.at<HRESULT>(1));
         });
     }},
    {L"SyncIO.Write",
     [](Target& t, Outputs& o) {
         OPCITEMVQT vqt = LevelWrite();
         return Through<IOPCSyncIO>(t.group.Get(), [&](IOPCSyncIO* part) {
             return part->Write(kClaimedCount, &t.item, &vqt.vDataValue, o.at<HRESULT>(0));
         });
     }},
    {L"SyncIO2.ReadMaxAge",
     [](Target& t, Outputs& o) {
         DWORD maxAge = 0;
         return Through<IOPCSyncIO2>(t.group.Get(), [&](IOPCSyncIO2* part) {
             return part->ReadMaxAge(kClaimedCount, &t.item, &maxAge, o.at<VARIANT>(0),
                                     o.at<WORD>(1), o.at<FILETIME>(2), o.at<HRESULT>(3));
         });
     }},
    {L"SyncIO2.WriteVQT",
     [](Target& t, Outputs& o) {
         OPCITEMVQT vqt = LevelWrite();
         return Through<IOPCSyncIO2>(t.group.Get(), [&](IOPCSyncIO2* part) {
             return part->WriteVQT(kClaimedCount, &t.item, &vqt, o.at<HRESULT>(0));
         });
     }},
    {L"AsyncIO.Read",
     [](Target& t, Outputs& o) {
         DWORD transaction = 0;
         return Through<IOPCAsyncIO>(t.group.Get(), [&](IOPCAsyncIO* part) {
             return part->Read(1, OPC_DS_DEVICE, kClaimedCount, &t.item, &transaction,
                               o.at<HRESULT>(0));
         });
     }},
    {L"AsyncIO.Write",
     [](Target& t, Outputs& o) {
         DWORD transaction = 0;
         OPCITEMVQT vqt = LevelWrite();
         return Through<IOPCAsyncIO>(t.group.Get(), [&](IOPCAsyncIO* part) {
             return part->Write(1, kClaimedCount, &t.item, &vqt.vDataValue, &transaction,
                                o.at<HRESULT>(0));
         });
     }},
    {L"AsyncIO2.Read",
     [](Target& t, Outputs& o) {
         DWORD cancel = 0;
         return Through<IOPCAsyncIO2>(t.group.Get(), [&](IOPCAsyncIO2* part) {
             return part->Read(kClaimedCount, &t.item, 1, &cancel, o.at<HRESULT>(0));
         });
     }},
    {L"AsyncIO2.Write",
     [](Target& t, Outputs& o) {
         DWORD cancel = 0;
         OPCITEMVQT vqt = LevelWrite();
         return Through<IOPCAsyncIO2>(t.group.Get(), [&](IOPCAsyncIO2* part) {
             return part->Write(kClaimedCount, &t.item, &vqt.vDataValue, 1, &cancel,
                                o.at<HRESULT>(0));
         });
     }},
    {L"AsyncIO3.ReadMaxAge",
     [](Target& t, Outputs& o) {
         DWORD cancel = 0, maxAge = 0;
         return Through<IOPCAsyncIO3>(t.group.Get(), [&](IOPCAsyncIO3* part) {
             return part->ReadMaxAge(kClaimedCount, &t.item, &maxAge, 1, &cancel, o.at<HRESULT>(0));
         });
     }},
    {L"AsyncIO3.WriteVQT",
     [](Target& t, Outputs& o) {
         DWORD cancel = 0;
         OPCITEMVQT vqt = LevelWrite();
         return Through<IOPCAsyncIO3>(t.group.Get(), [&](IOPCAsyncIO3* part) {
             return part->WriteVQT(kClaimedCount, &t.item, &vqt, 1, &cancel, o.at<HRESULT>(0));
         });
     }},
    {L"ItemDeadbandMgt.SetItemDeadband",
     [](Target& t, Outputs& o) {
         FLOAT deadband = 1.0f;
         return Through<IOPCItemDeadbandMgt>(t.group.Get(), [&](IOPCItemDeadbandMgt* part) {
             return part->SetItemDeadband(kClaimedCount, &t.item, &deadband, o.at<HRESULT>(0));
         });
     }},
    {L"ItemDeadbandMgt.GetItemDeadband",
     [](Target& t, Outputs& o) {
         return Through<IOPCItemDeadbandMgt>(t.group.Get(), [&](IOPCItemDeadbandMgt* part) {
             return part->GetItemDeadband(kClaimedCount, &t.item, o.at<FLOAT>(0), o.at<HRESULT>(1));
         });
     }},
    {L"ItemDeadbandMgt.ClearItemDeadband",
     [](Target& t, Outputs& o) {
         return Through<IOPCItemDeadbandMgt>(t.group.Get(), [&](IOPCItemDeadbandMgt* part) {
             return part->ClearItemDeadband(kClaimedCount, &t.item, o.at<HRESULT>(0));
         });
     }},
    {L"ItemProperties.GetItemProperties",
     [](Target& t, Outputs& o) {
         DWORD property = 1;
         return Through<IOPCItemProperties>(t.server.Get(), [&](IOPCItemProperties* part) {
             return part->GetItemProperties(t.itemId, kClaimedCount, &property, o.at<VARIANT>(0),
                                            o.at<HRESULT>(1));
         });
     }},
    {L"ItemProperties.LookupItemIDs",
     [](Target& t, Outputs& o) {
         DWORD property = 1;
         return Through<IOPCItemProperties>(t.server.Get(), [&](IOPCItemProperties* part) {
             return part->LookupItemIDs(t.itemId, kClaimedCount, &property, o.at<LPWSTR>(0),
                                        o.at<HRESULT>(1));
         });
     }},
    {L"Browse.GetProperties",
     [](Target& t, Outputs& o) {
         DWORD property = 1;
         LPWSTR ids[] = {t.itemId};
         return Through<IOPCBrowse>(t.server.Get(), [&](IOPCBrowse* part) {
             return part->GetProperties(kClaimedCount, ids, TRUE, 1, &property,
                                        o.at<OPCITEMPROPERTIES>(0));
         });
     }},
    {L"Browse.Browse",
     [](Target& t, Outputs& o) {
         DWORD property = 1, count = 0;
         BOOL more = FALSE;
         LPWSTR continuation = nullptr;
         HRESULT hr = Through<IOPCBrowse>(t.server.Get(), [&](IOPCBrowse* part) {
             return part->Browse(const_cast<LPWSTR>(L""), &continuation, 0, OPC_BROWSE_FILTER_ALL,
                                 const_cast<LPWSTR>(L""), const_cast<LPWSTR>(L""), FALSE, TRUE,
                                 kClaimedCount, &property, &more, &count,
                                 o.at<OPCBROWSEELEMENT>(0));
         });
         CoTaskMemFree(continuation);
         return hr;
     }},
    {L"ItemIO.Read",
     [](Target& t, Outputs& o) {
         DWORD maxAge = 0;
         LPCWSTR ids[] = {t.itemId};
         return Through<IOPCItemIO>(t.server.Get(), [&](IOPCItemIO* part) {
             return part->Read(kClaimedCount, ids, &maxAge, o.at<VARIANT>(0), o.at<WORD>(1),
                               o.at<FILETIME>(2), o.at<HRESULT>(3));
         });
     }},
    {L"ItemIO.WriteVQT",
     [](Target& t, Outputs& o) {
         OPCITEMVQT vqt = LevelWrite();
         LPCWSTR ids[] = {t.itemId};
         return Through<IOPCItemIO>(t.server.Get(), [&](IOPCItemIO* part) {
             return part->WriteVQT(kClaimedCount, ids, &vqt, o.at<HRESULT>(0));
         });
     }},
};

// The interfaces whose proxies lie in this process.
const IID* const kLyingInterfaces[] = {
    &IID_IOPCItemMgt,  &IID_IOPCSyncIO,   &IID_IOPCSyncIO2,         &IID_IOPCAsyncIO,
    &IID_IOPCAsyncIO2, &IID_IOPCAsyncIO3, &IID_IOPCItemDeadbandMgt, &IID_IOPCItemProperties,
    &IID_IOPCBrowse,   &IID_IOPCItemIO,
};

// The lying proxy, registered for this process while the object lives.
class LyingProxyRegistration {
public:
    LyingProxyRegistration()
    {
        ComPtr<IUnknown> factory;
        if (FAILED(lying_proxy_factory(&factory)) ||
            FAILED(CoRegisterClassObject(CLSID_LyingOpcProxy, factory.Get(), CLSCTX_INPROC_SERVER,
                                         REGCLS_MULTIPLEUSE, &m_cookie))) {
            return;
        }
        m_registered = true;
        for (const IID* iid : kLyingInterfaces) {
            if (FAILED(CoRegisterPSClsid(*iid, CLSID_LyingOpcProxy))) m_registered = false;
        }
    }
    ~LyingProxyRegistration()
    {
        if (m_cookie) CoRevokeClassObject(m_cookie);
    }
    LyingProxyRegistration(const LyingProxyRegistration&) = delete;
    LyingProxyRegistration& operator=(const LyingProxyRegistration&) = delete;
    bool Registered() const { return m_registered; }

private:
    DWORD m_cookie = 0;
    bool m_registered = false;
};

// A group with the one item the calls name; false when the server would not give it.
bool AddGroupWithItem(Target& t)
{
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&t.server)))) {
        return false;
    }
    OPCHANDLE group = 0;
    DWORD rate = 0;
    if (FAILED(t.server->AddGroup(L"lying", TRUE, 1000, 0, nullptr, nullptr, 0, &group, &rate,
                                  IID_IUnknown, &t.group))) {
        return false;
    }
    // Honest: a count of 1 agrees with the one element the lying proxy sends.
    OPCITEMDEF definition = LevelDefinition(t);
    Outputs o;
    const HRESULT added = Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
        return part->AddItems(1, &definition, o.at<OPCITEMRESULT>(0), o.at<HRESULT>(1));
    });
    if (added != S_OK) {
        return false;
    }
    t.item = (*o.at<OPCITEMRESULT>(0))->hServer;
    return true;
}

// The group still holds its one item, and a read of it is answered.
bool Unchanged(Target& t)
{
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumOPCItemAttributes> items;
    const HRESULT enumerated = Through<IOPCItemMgt>(t.group.Get(), [&](IOPCItemMgt* part) {
        return part->CreateEnumerator(IID_IEnumOPCItemAttributes, &unknown);
    });
    if (FAILED(enumerated) || !unknown || FAILED(unknown.As(&items))) {
        return false;
    }
    OPCITEMATTRIBUTES* attributes = nullptr;
    ULONG fetched = 0;
    items->Next(2, &attributes, &fetched);
    const bool one = fetched == 1 && attributes[0].hServer == t.item;
    for (ULONG i = 0; i < fetched; ++i) {
        CoTaskMemFree(attributes[i].szAccessPath);
        CoTaskMemFree(attributes[i].szItemID);
        CoTaskMemFree(attributes[i].pBlob);
        VariantClear(&attributes[i].vEUInfo);
    }
    CoTaskMemFree(attributes);
    Outputs o;
    const HRESULT read = Through<IOPCSyncIO>(t.group.Get(), [&](IOPCSyncIO* part) {
        return part->Read(OPC_DS_CACHE, 1, &t.item, o.at<OPCITEMSTATE>(0), o.at<HRESULT>(1));
    });
    if (read == S_OK) VariantClear(&(*o.at<OPCITEMSTATE>(0))->vDataValue);
    return one && read == S_OK;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    int exitCode = 0;
    {
        LyingProxyRegistration registration;
        Target target;
        if (!registration.Registered() || !AddGroupWithItem(target)) {
            std::fprintf(stderr, "set-up failed\n");
            exitCode = 1;
        }
        for (int i = 1; i < argc && exitCode == 0; ++i) {
            const LyingCall* found = nullptr;
            for (const LyingCall& call : kCalls) {
                if (std::wcscmp(call.name, argv[i]) == 0) found = &call;
            }
            if (!found) {
                std::fprintf(stderr, "unknown call %ls\n", argv[i]);
                exitCode = 2;
                break;
            }
            Outputs outputs;
            const HRESULT hr = found->call(target, outputs);
            std::printf("%ls 0x%08lX %s\n", found->name, static_cast<unsigned long>(hr),
                        Unchanged(target) ? "unchanged" : "changed");
            std::fflush(stdout);
        }
    }
    CoUninitialize();
    return exitCode;
}
