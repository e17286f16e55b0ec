/* The widl-generated proxy/stub code of the OPC interfaces (string out-parameter offsets and
 * the [in] arrays the stub must free already mended at build time, and every stub call sent
 * through the check of [in] arrays against their counts). */
#include <objbase.h>

#include "in_array_count_check.h"

/* mingw-w64 declares these three only for C++; the generated C proxy calls them. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid,
                                                        void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);

#include "opc_da_p.c"
