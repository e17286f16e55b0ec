// The fake OPC server object: IOPCServer, IOPCServerPublicGroups, IOPCBrowseServerAddressSpace,
// IOPCCommon, IOPCItemProperties, IConnectionPointContainer, IOPCBrowse and IOPCItemIO answering
// with the values of fake_values.h.
#pragma once

#include "fake_com_object.h"
#include "fake_group.h"
#include "opc_da.h"

#include <wrl/client.h>
#include <ocidl.h>

#include <string>
#include <vector>

namespace fake {

class Server
    : public ComObject<IOPCServer, IOPCServerPublicGroups, IOPCBrowseServerAddressSpace, IOPCCommon,
                       IOPCItemProperties, IConnectionPointContainer, IOPCBrowse, IOPCItemIO> {
public:
    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD dwLCID,
                                       OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                             LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid,
                                             LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                    LPUNKNOWN* ppUnk) override;
    // IOPCServerPublicGroups
    HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid,
                                                   LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    // IOPCBrowseServerAddressSpace
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                               LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                               DWORD dwAccessRightsFilter,
                                               LPENUMSTRING* ppIEnumString) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                                LPENUMSTRING* ppIEnumString) override;

    // IOPCCommon (GetErrorString has IOPCServer's name and another signature)
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;
    // IOPCItemProperties
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                       DWORD** ppPropertyIDs,
                                                       LPWSTR** ppDescriptions,
                                                       VARTYPE** ppvtDataTypes) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;
    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    // IOPCBrowse
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs,
                                            BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                            DWORD* pdwPropertyIDs,
                                            OPCITEMPROPERTIES** ppItemProperties) override;
    HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint,
                                     DWORD dwMaxElementsReturned, OPCBROWSEFILTER dwBrowseFilter,
                                     LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                     BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                     DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                     BOOL* pbMoreElements, DWORD* pdwCount,
                                     OPCBROWSEELEMENT** ppBrowseElements) override;
    // IOPCItemIO
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge,
                                   VARIANT** ppvValues, WORD** ppwQualities,
                                   FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                                       HRESULT** ppErrors) override;

private:
    LCID locale_ = 0;
    std::wstring clientName_;
    // The groups added, in order; a group's server handle is kFirstServerGroup + its index.
    std::vector<Microsoft::WRL::ComPtr<Group>> groups_;
    ItemValues values_;  // what IOPCItemIO wrote, by the handle in the item ID
};

}  // namespace fake
