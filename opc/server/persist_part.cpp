#include "opc/server/persist_part.h"

#include "server_identity.h"

HRESULT PersistPart::GetClassID(CLSID* pClassID)
{
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_ParhelionixOPCServer;
    return S_OK;
}

HRESULT PersistPart::IsDirty()
{
    return S_OK;
}

HRESULT PersistPart::Load(LPCOLESTR /*pszFileName*/, DWORD /*dwMode*/)
{
    return S_OK;
}

HRESULT PersistPart::Save(LPCOLESTR /*pszFileName*/, BOOL /*fRemember*/)
{
    return S_OK;
}

HRESULT PersistPart::SaveCompleted(LPCOLESTR /*pszFileName*/)
{
    return S_OK;
}

HRESULT PersistPart::GetCurFile(LPOLESTR* ppszFileName)
{
    if (!ppszFileName) return E_POINTER;
    *ppszFileName = nullptr;  // there is no current file
    return S_OK;
}
