// The fake server's connection points for IOPCShutdown and IOPCDataCallback: Advise calls every
// method of the client's sink at once, with the arguments of fake_values.h, so that a test sees
// the callbacks cross from the server's process to the client's.
#pragma once

#include "fake_com_object.h"
#include "opc_da.h"

#include <ocidl.h>

namespace fake {

HRESULT make_connection_point(REFIID sinkIid, IConnectionPoint** ppCP);

}  // namespace fake
