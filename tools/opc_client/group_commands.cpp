// add-group, list-groups, remove-group: the groups of the session's server object.
#include <iterator>
#include <memory>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "option_arguments.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kDefaultUpdateRate = 1000;

HRESULT RunAddGroup(ClientSession& session, const CommandArguments& arguments)
{
    DWORD rate = kDefaultUpdateRate;
    BOOL active = TRUE;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"inactive") {
            active = FALSE;
        } else if (!ParseNumber(arguments[i], rate)) {
            return E_INVALIDARG;
        }
    }
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    const HRESULT hr =
        session.Server()->AddGroup(arguments[0].c_str(), active, rate, 0, nullptr, nullptr,
                                   LOCALE_SYSTEM_DEFAULT, &handle, &revised, IID_IUnknown, &group);
    if (FAILED(hr)) return hr;
    PrintLine(L"added group \"" + arguments[0] + L"\": server handle " + std::to_wstring(handle) +
              L", update rate " + std::to_wstring(revised) + L" ms");
    return S_OK;
}

HRESULT PrintGroup(IUnknown* group)
{
    ComPtr<IOPCGroupStateMgt> state;
    HRESULT hr = group->QueryInterface(IID_PPV_ARGS(&state));
    if (FAILED(hr)) return hr;
    DWORD rate = 0, lcid = 0;
    BOOL active = FALSE;
    LPWSTR rawName = nullptr;
    LONG timeBias = 0;
    FLOAT deadband = 0.0f;
    OPCHANDLE client = 0, server = 0;
    hr = state->GetState(&rate, &active, &rawName, &timeBias, &deadband, &lcid, &client, &server);
    if (FAILED(hr)) return hr;
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> name(rawName, &CoTaskMemFree);
    PrintLine(L"  " + std::to_wstring(server) + L"  \"" + std::wstring(name ? name.get() : L"") +
              L"\"  " + std::to_wstring(rate) + L" ms  " + (active ? L"active" : L"inactive"));
    return S_OK;
}

HRESULT RunListGroups(ClientSession& session, const CommandArguments&)
{
    ComPtr<IEnumUnknown> groups;
    HRESULT hr = session.Server()->CreateGroupEnumerator(
        OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<IUnknown**>(groups.GetAddressOf()));
    if (FAILED(hr)) return hr;
    PrintLine(L"groups (server handle, name, update rate, active):");
    for (;;) {
        ComPtr<IUnknown> group;
        ULONG fetched = 0;
        hr = groups->Next(1, &group, &fetched);
        if (FAILED(hr)) return hr;
        if (fetched == 0) return S_OK;
        hr = PrintGroup(group.Get());
        if (FAILED(hr)) return hr;
    }
}

HRESULT RunRemoveGroup(ClientSession& session, const CommandArguments& arguments)
{
    DWORD handle = 0;
    if (!ParseNumber(arguments[0], handle)) return E_INVALIDARG;
    const HRESULT hr = session.Server()->RemoveGroup(handle, FALSE);
    if (FAILED(hr)) return hr;
    PrintLine(L"removed group " + std::to_wstring(handle));
    return S_OK;
}

const Command kGroupCommands[] = {
    {L"add-group", L"<name> [<update rate ms>] [inactive]",
     L"adds a group (rate 1000 ms, active unless told)", 1, 3, RunAddGroup},
    {L"list-groups", L"", L"lists this session's groups", 0, 0, RunListGroups},
    {L"remove-group", L"<server handle>", L"removes a group", 1, 1, RunRemoveGroup},
};

}  // namespace

CommandFamily GroupCommands()
{
    return {kGroupCommands, std::size(kGroupCommands)};
}
