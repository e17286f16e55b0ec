#pragma once
#include <objidl.h>

#include "opc/com/interface_part.h"
#include "opc/server/server_object.h"

// IPersistFile and IPersist of a server object: the server keeps no file, so every method but
// GetClassID only reports success.
class PersistPart final : public InterfacePart<IPersistFile, ServerObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD dwMode) override;
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL fRemember) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR pszFileName) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) override;
};
