// A client compiles against opc_da.h alone, as against the published declarations: the header
// brings the connection points through which IOPCShutdown and IOPCDataCallback are advised, and
// the names and values added after DA 1.0 are those of the published standard. Included first
// and alone, so that nothing else can bring what the header lacks.
#include "opc_da.h"
#include "opc_error.h"

#include <type_traits>

static_assert(std::is_base_of<IUnknown, IConnectionPointContainer>::value &&
                  std::is_base_of<IUnknown, IConnectionPoint>::value,
              "opc_da.h brings the connection-point declarations");
static_assert(OPC_BROWSE_TO == 3, "OPCBROWSEDIRECTION of DA 2.0");
static_assert(OPC_QUALITY_WAITING_FOR_INITIAL_DATA == 0x20, "the DA 3.0 quality substatus");
static_assert(OPC_E_INVALIDCONFIGFILE == static_cast<HRESULT>(0xC0040010L),
              "0xC0040010 by its published name");
