#include "opc/com/error_text.h"

#include <olectl.h>

#include <cwchar>
#include <iterator>
#include <memory>

#include "opc_error.h"

namespace {

struct KnownError {
    HRESULT code;
    const wchar_t* text;
};

// The published meanings, worded for this server's clients.
const KnownError kKnownErrors[] = {
    {S_OK, L"The operation succeeded."},
    {S_FALSE, L"The operation succeeded with a partial or false result."},
    {OPC_E_INVALIDHANDLE, L"The value of the handle is invalid."},
    {OPC_E_BADTYPE,
     L"The server cannot convert the data between the requested data type and the canonical "
     L"data type."},
    {OPC_E_PUBLIC, L"The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, L"The item's access rights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, L"The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, L"The item definition does not conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, L"The filter string is not valid."},
    {OPC_E_UNKNOWNPATH, L"The item's access path is not known to the server."},
    {OPC_E_RANGE, L"The value is out of range."},
    {OPC_E_DUPLICATENAME, L"Duplicate name not allowed."},
    {OPC_S_UNSUPPORTEDRATE,
     L"The server does not support the requested rate but will use the closest available "
     L"rate."},
    {OPC_S_CLAMP, L"A value passed to write was accepted but the output was clamped."},
    {OPC_S_INUSE,
     L"The operation cannot be completed because the object still has references that exist."},
    {OPC_E_INVALIDCONFIG, L"The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, L"The requested object (e.g. a public group) was not found."},
    {OPC_E_INVALID_PID, L"The specified property ID is not valid for the item."},
    {OPC_SERVER_E_VIEWER_NOT_RUNNING,
     L"The Viewer is not running: the tag cannot be written until it runs again."},
    {E_INVALIDARG, L"One or more arguments are invalid."},
    {E_NOINTERFACE, L"No such interface supported."},
    {E_OUTOFMEMORY, L"Not enough memory is available to complete this operation."},
    {E_FAIL, L"Unspecified error."},
    {E_NOTIMPL, L"Not implemented."},
    {E_POINTER, L"Invalid pointer."},
    {E_UNEXPECTED, L"Catastrophic failure."},
    {CONNECT_E_ADVISELIMIT, L"The limit of advisory connections has been reached."},
    {DV_E_FORMATETC, L"Invalid FORMATETC structure."},
    {OLE_E_NOCONNECTION, L"There is no connection for this connection ID."},
    {CLASS_E_NOAGGREGATION, L"Class does not support aggregation (or class object is remote)."},
    {CO_E_OBJNOTCONNECTED, L"Object is not connected to server."},
    {DISP_E_TYPEMISMATCH, L"Type mismatch."},
    {DISP_E_OVERFLOW, L"Out of present range."},
    {DISP_E_BADVARTYPE, L"Bad variable type."},
};

// The platform's text for `code`, without its line end; empty when it has none.
std::wstring PlatformMessage(HRESULT code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::unique_ptr<wchar_t, decltype(&LocalFree)> owner(text, &LocalFree);
    std::wstring message = length > 0 ? std::wstring(text, length) : std::wstring();
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message;
}

}  // namespace

std::wstring DescribeError(HRESULT code)
{
    for (const KnownError& known : kKnownErrors) {
        if (known.code == code) return known.text;
    }
    std::wstring message = PlatformMessage(code);
    if (!message.empty()) return message;
    wchar_t unknown[48];
    std::swprintf(unknown, std::size(unknown), L"Unknown error code 0x%08lX.",
                  static_cast<unsigned long>(code));
    return unknown;
}
