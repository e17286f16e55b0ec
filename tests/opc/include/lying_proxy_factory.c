/* The lying proxy's class factory: widl's dlldata.c under a class of its own, with its entry
 * points renamed (LyingDllGetClassObject) so that they stay inside the client program. */
#include "lying_proxy_factory.h"

#define PROXY_CLSID_IS {0x16b00134, 0x564b, 0x499b, {0xac, 0x2b, 0x5d, 0xbd, 0x9e, 0x0f, 0xb5, 0x4b}}
#define ENTRY_PREFIX Lying
#include "dlldata.c"

const CLSID CLSID_LyingOpcProxy = PROXY_CLSID_IS;

HRESULT lying_proxy_factory(IUnknown **factory)
{
    return LyingDllGetClassObject(&CLSID_LyingOpcProxy, &IID_IUnknown, (void **)factory);
}
