// browse: the server's tag names through IOPCBrowseServerAddressSpace.
#include <iterator>
#include <memory>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "value_text.h"

using Microsoft::WRL::ComPtr;

namespace {

HRESULT PrintNames(IEnumString* names)
{
    for (;;) {
        LPOLESTR raw = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = names->Next(1, &raw, &fetched);
        if (FAILED(hr)) return hr;
        if (fetched == 0) return S_OK;
        std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> name(raw, &CoTaskMemFree);
        PrintLine(L"  " + std::wstring(name ? name.get() : L""));
    }
}

HRESULT RunBrowse(ClientSession& session, const CommandArguments& arguments)
{
    const std::wstring what = arguments.empty() ? L"flat" : arguments[0];
    VARTYPE filter = VT_EMPTY;
    if (arguments.size() > 1 && !ParseTypeName(arguments[1], filter)) return E_INVALIDARG;
    OPCBROWSETYPE type;
    if (what == L"branches") {
        type = OPC_BRANCH;
    } else if (what == L"leaves") {
        type = OPC_LEAF;
    } else if (what == L"flat") {
        type = OPC_FLAT;
    } else {
        return E_INVALIDARG;
    }
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    HRESULT hr = session.Server()->QueryInterface(IID_PPV_ARGS(&browse));
    if (FAILED(hr)) return hr;
    // The tags are the leaves of the one branch under the root.
    if (type == OPC_LEAF) {
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Tagname");
        if (FAILED(hr)) return hr;
    }
    ComPtr<IEnumString> names;
    hr = browse->BrowseOPCItemIDs(type, L"", filter, 0, &names);
    if (FAILED(hr)) return hr;
    PrintLine(what + (hr == S_FALSE ? L" (none for " + TypeName(filter) + L"):" : L":"));
    hr = PrintNames(names.Get());
    if (type == OPC_LEAF) browse->ChangeBrowsePosition(OPC_BROWSE_UP, L"");
    return hr;
}

const Command kBrowseCommands[] = {
    {L"browse", L"[branches|leaves|flat] [<VT filter>]",
     L"lists the branches at the root, the tags in the branch, or all tags (default flat)", 0, 2,
     RunBrowse},
};

}  // namespace

CommandFamily BrowseCommands()
{
    return {kBrowseCommands, std::size(kBrowseCommands)};
}
