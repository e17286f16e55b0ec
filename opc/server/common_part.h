#pragma once
#include "opc/com/interface_part.h"
#include "opc_da.h"

class ServerObject;

// IOPCCommon of a server object: the locale of its texts (the system's or the user's default,
// English or Chinese; error_text.h), error texts in that locale, and the client's name, kept
// per server object.
class CommonPart final : public InterfacePart<IOPCCommon, ServerObject> {
public:
    using InterfacePart::InterfacePart;

    // E_INVALIDARG for a locale the server has no texts in. A default locale is kept as given
    // and resolved when a text is made (TextLocale).
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;
};
