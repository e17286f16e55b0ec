#include "proxy_registration.h"

#include "opc_da.h"
#include "server_identity.h"

namespace registration {
namespace {

struct OpcInterface {
    const IID* iid;
    const wchar_t* name;
};

// Every custom interface that opc_proxy.dll marshals.
constexpr OpcInterface kInterfaces[] = {
    {&IID_IOPCServer, L"IOPCServer"},
    {&IID_IOPCServerPublicGroups, L"IOPCServerPublicGroups"},
    {&IID_IOPCBrowseServerAddressSpace, L"IOPCBrowseServerAddressSpace"},
    {&IID_IOPCGroupStateMgt, L"IOPCGroupStateMgt"},
    {&IID_IOPCPublicGroupStateMgt, L"IOPCPublicGroupStateMgt"},
    {&IID_IOPCSyncIO, L"IOPCSyncIO"},
    {&IID_IOPCAsyncIO, L"IOPCAsyncIO"},
    {&IID_IOPCItemMgt, L"IOPCItemMgt"},
    {&IID_IEnumOPCItemAttributes, L"IEnumOPCItemAttributes"},
    {&IID_IOPCCommon, L"IOPCCommon"},
    {&IID_IOPCShutdown, L"IOPCShutdown"},
    {&IID_IOPCItemProperties, L"IOPCItemProperties"},
    {&IID_IOPCDataCallback, L"IOPCDataCallback"},
    {&IID_IOPCAsyncIO2, L"IOPCAsyncIO2"},
    {&IID_IOPCBrowse, L"IOPCBrowse"},
    {&IID_IOPCItemIO, L"IOPCItemIO"},
    {&IID_IOPCSyncIO2, L"IOPCSyncIO2"},
    {&IID_IOPCAsyncIO3, L"IOPCAsyncIO3"},
    {&IID_IOPCItemDeadbandMgt, L"IOPCItemDeadbandMgt"},
    {&IID_IOPCGroupStateMgt2, L"IOPCGroupStateMgt2"},
};

std::wstring interface_key(const OpcInterface& opcInterface)
{
    return L"Interface\\" + guid_text(*opcInterface.iid);
}

}  // namespace

RegistryResult register_proxy(const ClassesRoot& classes, const std::wstring& dllPath)
{
    const std::wstring proxyClass = guid_text(CLSID_ParhelionixOPCProxy);
    const std::wstring classKey = L"CLSID\\" + proxyClass;
    RegistryResult result =
        set_string(classes, classKey, nullptr, L"Parhelionix OPC proxy/stub factory");
    if (result.ok()) result = set_string(classes, classKey + L"\\InprocServer32", nullptr, dllPath);
    if (result.ok())
        result = set_string(classes, classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    for (const OpcInterface& opcInterface : kInterfaces) {
        if (!result.ok()) break;
        result = set_string(classes, interface_key(opcInterface), nullptr, opcInterface.name);
        if (result.ok())
            result = set_string(classes, interface_key(opcInterface) + L"\\ProxyStubClsid32",
                                nullptr, proxyClass);
    }
    return result;
}

RegistryResult unregister_routes(const ClassesRoot& classes)
{
    const std::wstring proxyClass = guid_text(CLSID_ParhelionixOPCProxy);
    for (const OpcInterface& opcInterface : kInterfaces) {
        const auto routed =
            read_string(classes, interface_key(opcInterface) + L"\\ProxyStubClsid32", nullptr);
        if (!routed || _wcsicmp(routed->c_str(), proxyClass.c_str()) != 0) continue;
        const RegistryResult result = delete_tree(classes, interface_key(opcInterface));
        if (!result.ok()) return result;
    }
    return {};
}

RegistryResult unregister_proxy(const ClassesRoot& classes)
{
    const RegistryResult result = unregister_routes(classes);
    if (!result.ok()) return result;
    return delete_tree(classes, L"CLSID\\" + guid_text(CLSID_ParhelionixOPCProxy));
}

}  // namespace registration
