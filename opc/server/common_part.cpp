#include "opc/server/common_part.h"

#include <iterator>

#include "opc/com/error_text.h"
#include "opc/com/task_memory.h"
#include "opc/server/server_object.h"

HRESULT CommonPart::SetLocaleID(LCID dwLcid)
{
    if (!HasErrorTexts(dwLcid)) return E_INVALIDARG;
    owner().SetLocaleId(dwLcid);
    return S_OK;
}

HRESULT CommonPart::GetLocaleID(LCID* pdwLcid)
{
    if (!pdwLcid) return E_INVALIDARG;
    *pdwLcid = owner().LocaleId();
    return S_OK;
}

HRESULT CommonPart::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid)
{
    if (!pdwCount || !pdwLcid) return E_INVALIDARG;
    *pdwCount = 0;
    *pdwLcid = static_cast<LCID*>(TaskAllocate(sizeof(kErrorTextLocales)));
    if (!*pdwLcid) return E_OUTOFMEMORY;
    for (size_t i = 0; i < std::size(kErrorTextLocales); ++i) (*pdwLcid)[i] = kErrorTextLocales[i];
    *pdwCount = static_cast<DWORD>(std::size(kErrorTextLocales));
    return S_OK;
}

HRESULT CommonPart::GetErrorString(HRESULT dwError, LPWSTR* ppString)
{
    if (!ppString) return E_INVALIDARG;
    return TaskErrorString(dwError, owner().LocaleId(), ppString);
}

HRESULT CommonPart::SetClientName(LPCWSTR szName)
{
    if (!szName) return E_INVALIDARG;
    return owner().SetClientName(szName) ? S_OK : E_OUTOFMEMORY;
}
