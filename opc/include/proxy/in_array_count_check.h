/* The stub's entry for every method of the OPC interfaces (their stub vtables' dispatch table,
 * written by in_array_count_check.cmake): refuses a call whose [in] array arrived with a size
 * other than the count parameter that sizes it, before anything of the call is handed to the
 * server object, and has the interpreter run every other call as before. */
#pragma once

/* Not rpcproxy.h: the generated proxy includes it after its own settings. */
#include <objbase.h>

void __RPC_STUB in_array_count_checked_stub_call(IRpcStubBuffer *stub, IRpcChannelBuffer *channel,
                                                 PRPC_MESSAGE message, DWORD *stub_phase);
