// add, read, write: items of the server's tags in a group of the command's own.
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "advise_sink.h"
#include "client_group.h"
#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "task_block.h"
#include "value_text.h"

namespace {

// Long enough for the first update pass of a 1000 ms group at the slowest poll period a
// project normally has.
constexpr DWORD kPostedWaitMs = 10000;

// The server posts a written value towards the Viewer with the group's next update pass, and
// drops it with the group. The first data stream after the write comes from that pass, so the
// command keeps its group until one has arrived.
HRESULT AwaitWritePosted(const ClientGroup& group)
{
    Microsoft::WRL::ComPtr<PrintingSink> sink = PrintingSink::Create();
    AdviseConnections connection;
    const HRESULT hr = connection.Connect(group.Io(), sink.Get(), {StreamKind::Data});
    if (FAILED(hr)) return hr;
    if (!PumpUntil([&] { return sink->Callbacks() > 0; }, kPostedWaitMs)) return RPC_E_TIMEOUT;
    PrintLine(L"taken by the server's update pass; its next poll cycle hands it to the Viewer");
    return S_OK;
}

// A command's words: item IDs (and a value) in order, and the options --type and --source.
struct ItemArguments {
    std::vector<std::wstring> words;
    VARTYPE type = VT_EMPTY;
    OPCDATASOURCE source = OPC_DS_CACHE;
};

bool ParseItemArguments(const CommandArguments& arguments, ItemArguments& parsed)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& word = arguments[i];
        if (word != L"--type" && word != L"--source") {
            parsed.words.push_back(word);
            continue;
        }
        if (++i == arguments.size()) return false;
        if (word == L"--type") {
            if (!ParseTypeName(arguments[i], parsed.type)) return false;
        } else if (arguments[i] == L"cache") {
            parsed.source = OPC_DS_CACHE;
        } else if (arguments[i] == L"device") {
            parsed.source = OPC_DS_DEVICE;
        } else {
            return false;
        }
    }
    return true;
}

// Makes the command's group and adds the items; per-item errors stay in the group's items.
HRESULT AddItemsOf(ClientSession& session, const std::vector<std::wstring>& itemIds,
                   VARTYPE requestedType, ClientGroup& group)
{
    HRESULT hr = group.Create(session.Server());
    if (SUCCEEDED(hr)) hr = group.AddItems(itemIds, requestedType);
    return hr;
}

HRESULT FirstItemError(const ClientGroup& group)
{
    for (const ClientGroup::Item& item : group.Items()) {
        if (FAILED(item.error)) return item.error;
    }
    return S_OK;
}

// Reads the group's added items from `source` and prints one line each.
HRESULT PrintRead(ClientSession& session, const ClientGroup& group, OPCDATASOURCE source)
{
    std::vector<OPCHANDLE> handles;
    std::vector<const ClientGroup::Item*> added;
    for (const ClientGroup::Item& item : group.Items()) {
        if (SUCCEEDED(item.error)) {
            handles.push_back(item.serverHandle);
            added.push_back(&item);
        } else {
            PrintLine(item.itemId + L": " + session.ErrorText(item.error));
        }
    }
    if (handles.empty()) return FirstItemError(group);
    OPCITEMSTATE* rawStates = nullptr;
    HRESULT* rawErrors = nullptr;
    const HRESULT hr = group.Io()->Read(source, static_cast<DWORD>(handles.size()), handles.data(),
                                        &rawStates, &rawErrors);
    TaskBlock<OPCITEMSTATE> states(rawStates);
    TaskBlock<HRESULT> errors(rawErrors);
    if (FAILED(hr)) return hr;
    HRESULT result = FirstItemError(group);
    for (size_t i = 0; i < handles.size(); ++i) {
        OPCITEMSTATE& state = states.get()[i];
        const HRESULT error = errors.get()[i];
        std::wstring line = added[i]->itemId + L" = " + ValueText(state.vDataValue) +
                            L"  quality " + QualityText(state.wQuality) + L"  " +
                            TimeText(state.ftTimeStamp);
        if (FAILED(error)) {
            line += L"  error " + session.ErrorText(error);
            if (SUCCEEDED(result)) result = error;
        }
        PrintLine(line);
        VariantClear(&state.vDataValue);
    }
    return result;
}

HRESULT RunAdd(ClientSession& session, const CommandArguments& arguments)
{
    ItemArguments parsed;
    if (!ParseItemArguments(arguments, parsed) || parsed.words.empty()) return E_INVALIDARG;
    ClientGroup group;
    const HRESULT hr = AddItemsOf(session, parsed.words, parsed.type, group);
    if (FAILED(hr)) return hr;
    for (const ClientGroup::Item& item : group.Items()) {
        if (FAILED(item.error)) {
            PrintLine(item.itemId + L": " + session.ErrorText(item.error));
        } else {
            PrintLine(item.itemId + L": server handle " + std::to_wstring(item.serverHandle) +
                      L", canonical type " + TypeName(item.canonicalType) +
                      L", readable and writeable");
        }
    }
    return FirstItemError(group);
}

HRESULT RunRead(ClientSession& session, const CommandArguments& arguments)
{
    ItemArguments parsed;
    if (!ParseItemArguments(arguments, parsed) || parsed.words.empty()) return E_INVALIDARG;
    ClientGroup group;
    const HRESULT hr = AddItemsOf(session, parsed.words, parsed.type, group);
    if (FAILED(hr)) return hr;
    return PrintRead(session, group, parsed.source);
}

HRESULT RunWrite(ClientSession& session, const CommandArguments& arguments)
{
    ItemArguments parsed;
    if (!ParseItemArguments(arguments, parsed) || parsed.words.size() != 2) return E_INVALIDARG;
    // The text becomes the value a client program would send: of the type asked for, or text.
    TextValue text(parsed.words[1]);
    if (!text.Made()) return E_OUTOFMEMORY;
    VARIANT& value = text.Value();
    const HRESULT converted = SendAsType(value, parsed.type);
    if (FAILED(converted)) return converted;

    ClientGroup group;
    HRESULT hr = AddItemsOf(session, {parsed.words[0]}, VT_EMPTY, group);
    if (SUCCEEDED(hr)) hr = FirstItemError(group);
    if (FAILED(hr)) return hr;
    OPCHANDLE handle = group.Items()[0].serverHandle;
    HRESULT* rawErrors = nullptr;
    hr = group.Io()->Write(1, &handle, &value, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    if (FAILED(hr)) return hr;
    if (FAILED(errors.get()[0])) return errors.get()[0];
    PrintLine(L"wrote " + ValueText(value) + L" to " + parsed.words[0]);
    hr = PrintRead(session, group, OPC_DS_DEVICE);
    return FAILED(hr) ? hr : AwaitWritePosted(group);
}

const Command kItemCommands[] = {
    {L"add", L"<item ID>... [--type <VT>]",
     L"adds the items to a new group and shows their server handles and canonical types", 1, 64,
     RunAdd},
    {L"read", L"<item ID>... [--source cache|device] [--type <VT>]",
     L"adds the items to a new group and reads value, quality and time (cache by default)", 1, 64,
     RunRead},
    {L"write", L"<item ID> <value> [--type <VT>]",
     L"writes the text as a value (of the type given, else as text), reads it back and waits until "
     L"the server has posted it",
     2, 4, RunWrite},
};

}  // namespace

CommandFamily ItemCommands()
{
    return {kItemCommands, std::size(kItemCommands)};
}
