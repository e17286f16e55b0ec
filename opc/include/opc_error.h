// OPC DA 1.0 and 2.0 result codes, with the values of the published standard (facility ITF, 0x04).
#pragma once

#include <winerror.h>

#define OPC_E_INVALIDHANDLE ((HRESULT)0xC0040001L)
#define OPC_E_BADTYPE ((HRESULT)0xC0040004L)
#define OPC_E_PUBLIC ((HRESULT)0xC0040005L)
#define OPC_E_BADRIGHTS ((HRESULT)0xC0040006L)
#define OPC_E_UNKNOWNITEMID ((HRESULT)0xC0040007L)
#define OPC_E_INVALIDITEMID ((HRESULT)0xC0040008L)
#define OPC_E_INVALIDFILTER ((HRESULT)0xC0040009L)
#define OPC_E_UNKNOWNPATH ((HRESULT)0xC004000AL)
#define OPC_E_RANGE ((HRESULT)0xC004000BL)
#define OPC_E_DUPLICATENAME ((HRESULT)0xC004000CL)
#define OPC_S_UNSUPPORTEDRATE ((HRESULT)0x0004000DL)
#define OPC_S_CLAMP ((HRESULT)0x0004000EL)
#define OPC_S_INUSE ((HRESULT)0x0004000FL)
#define OPC_E_INVALIDCONFIG ((HRESULT)0xC0040010L)
#define OPC_E_NOTFOUND ((HRESULT)0xC0040011L)
#define OPC_E_INVALID_PID ((HRESULT)0xC0040203L)

// A system code this server gives a meaning of its own: a write refused because the Viewer is
// not running (HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)).
#define OPC_SERVER_E_VIEWER_NOT_RUNNING ((HRESULT)0x8007048FL)
// An asynchronous request refused because too many completions already wait for the client to
// take them (its callbacks do not return): HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA).
#define OPC_SERVER_E_CALLBACKS_BACKLOGGED ((HRESULT)0x80070718L)
