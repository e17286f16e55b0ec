// status: the server's OPCSERVERSTATUS.
#include <iterator>
#include <memory>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "value_text.h"

namespace {

const wchar_t* StateText(OPCSERVERSTATE state)
{
    switch (state) {
    case OPC_STATUS_RUNNING:
        return L"running";
    case OPC_STATUS_FAILED:
        return L"failed";
    case OPC_STATUS_NOCONFIG:
        return L"no configuration";
    case OPC_STATUS_SUSPENDED:
        return L"suspended";
    case OPC_STATUS_TEST:
        return L"test";
    }
    return L"unknown";
}

HRESULT RunStatus(ClientSession& session, const CommandArguments&)
{
    OPCSERVERSTATUS* raw = nullptr;
    const HRESULT hr = session.Server()->GetStatus(&raw);
    if (FAILED(hr)) return hr;
    std::unique_ptr<OPCSERVERSTATUS, decltype(&CoTaskMemFree)> status(raw, &CoTaskMemFree);
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> vendor(status->szVendorInfo, &CoTaskMemFree);
    PrintLine(L"vendor:       " + std::wstring(vendor ? vendor.get() : L""));
    PrintLine(L"state:        " + std::wstring(StateText(status->dwServerState)));
    PrintLine(L"version:      " + std::to_wstring(status->wMajorVersion) + L"." +
              std::to_wstring(status->wMinorVersion) + L"." +
              std::to_wstring(status->wBuildNumber));
    PrintLine(L"groups:       " + std::to_wstring(status->dwGroupCount));
    PrintLine(L"bandwidth:    " + std::to_wstring(status->dwBandWidth));
    PrintLine(L"start time:   " + TimeText(status->ftStartTime));
    PrintLine(L"current time: " + TimeText(status->ftCurrentTime));
    PrintLine(L"last update:  " + TimeText(status->ftLastUpdateTime));
    return S_OK;
}

const Command kStatusCommands[] = {
    {L"status", L"", L"the server's status", 0, 0, RunStatus},
};

}  // namespace

CommandFamily StatusCommands()
{
    return {kStatusCommands, std::size(kStatusCommands)};
}
