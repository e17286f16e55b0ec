// async-read, async-write, async-refresh, async-cancel: IOPCAsyncIO on a group of the
// command's own; each waits for its completion stream, which the server sends with its next
// poll cycle, and prints it.
#include <string>
#include <vector>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "option_arguments.h"
#include "subscribed_group.h"
#include "task_block.h"
#include "value_text.h"

namespace {

constexpr DWORD kCompletionWaitMs = 10000;
// Long enough for two poll cycles of the default period: a completion would have come.
constexpr DWORD kCancelledWaitMs = 2500;
constexpr DWORD kRateMs = 1000;

HRESULT AsyncIoOf(const SubscribedGroup& group, Microsoft::WRL::ComPtr<IOPCAsyncIO>& io)
{
    return group.Io()->QueryInterface(IID_PPV_ARGS(&io));
}

HRESULT AwaitCompletion(const SubscribedGroup& group, const wchar_t* request, DWORD id)
{
    PrintLine(std::wstring(request) + L" queued: transaction " + std::to_wstring(id));
    if (!group.WaitForTransaction(id, kCompletionWaitMs)) return RPC_E_TIMEOUT;
    PrintLine(L"transaction " + std::to_wstring(id) + L" completed");
    return S_OK;
}

// Queues a read of the command's items; `id` receives its transaction ID.
HRESULT QueueRead(ClientSession& session, const CommandArguments& arguments, SubscribedGroup& group,
                  Microsoft::WRL::ComPtr<IOPCAsyncIO>& io, DWORD& id)
{
    OptionArguments parsed;
    OPCDATASOURCE source = OPC_DS_CACHE;
    if (!ParseOptionArguments(arguments, {L"source"}, parsed) || parsed.words.empty() ||
        !ParseSource(parsed, source)) {
        return E_INVALIDARG;
    }
    HRESULT hr =
        group.Create(session, parsed.words, kRateMs, {StreamKind::Data, StreamKind::DataTime});
    if (SUCCEEDED(hr)) hr = AsyncIoOf(group, io);
    if (FAILED(hr)) return hr;
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    HRESULT* rawErrors = nullptr;
    hr = io->Read(0, source, static_cast<DWORD>(handles.size()), handles.data(), &id, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    const HRESULT items = session.CheckItemErrors(parsed.words, errors.get());
    return FAILED(hr) ? hr : items;
}

HRESULT RunAsyncRead(ClientSession& session, const CommandArguments& arguments)
{
    SubscribedGroup group;
    Microsoft::WRL::ComPtr<IOPCAsyncIO> io;
    DWORD id = 0;
    const HRESULT hr = QueueRead(session, arguments, group, io, id);
    if (FAILED(hr)) return hr;
    return AwaitCompletion(group, L"read", id);
}

HRESULT RunAsyncCancel(ClientSession& session, const CommandArguments& arguments)
{
    SubscribedGroup group;
    Microsoft::WRL::ComPtr<IOPCAsyncIO> io;
    DWORD id = 0;
    HRESULT hr = QueueRead(session, arguments, group, io, id);
    if (FAILED(hr)) return hr;
    hr = io->Cancel(id);
    PrintLine(L"read queued as transaction " + std::to_wstring(id) + L", cancelled: " +
              session.ErrorText(hr));
    if (FAILED(hr)) return hr;
    if (group.WaitForTransaction(id, kCancelledWaitMs)) return E_UNEXPECTED;
    PrintLine(L"no completion arrived for transaction " + std::to_wstring(id));
    return S_OK;
}

HRESULT RunAsyncRefresh(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    OPCDATASOURCE source = OPC_DS_CACHE;
    if (!ParseOptionArguments(arguments, {L"source"}, parsed) || parsed.words.empty() ||
        !ParseSource(parsed, source)) {
        return E_INVALIDARG;
    }
    SubscribedGroup group;
    Microsoft::WRL::ComPtr<IOPCAsyncIO> io;
    HRESULT hr =
        group.Create(session, parsed.words, kRateMs, {StreamKind::Data, StreamKind::DataTime});
    if (SUCCEEDED(hr)) hr = AsyncIoOf(group, io);
    DWORD id = 0;
    if (SUCCEEDED(hr)) hr = io->Refresh(0, source, &id);
    if (FAILED(hr)) return hr;
    return AwaitCompletion(group, L"refresh", id);
}

HRESULT RunAsyncWrite(ClientSession& session, const CommandArguments& arguments)
{
    if (arguments.size() != 2) return E_INVALIDARG;
    // Sent as text: the server converts it to the item's type, and a failed conversion shows
    // in the write-complete stream.
    TextValue text(arguments[1]);
    if (!text.Made()) return E_OUTOFMEMORY;
    VARIANT& value = text.Value();

    SubscribedGroup group;
    Microsoft::WRL::ComPtr<IOPCAsyncIO> io;
    HRESULT hr = group.Create(session, {arguments[0]}, kRateMs, {StreamKind::WriteComplete});
    if (SUCCEEDED(hr)) hr = AsyncIoOf(group, io);
    if (FAILED(hr)) return hr;
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    DWORD id = 0;
    HRESULT* rawErrors = nullptr;
    hr = io->Write(0, 1, handles.data(), &value, &id, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    const HRESULT items = session.CheckItemErrors({arguments[0]}, errors.get());
    if (FAILED(hr)) return hr;
    if (FAILED(items)) return items;
    return AwaitCompletion(group, L"write", id);
}

const Command kCommands[] = {
    {L"async-read", L"<item ID>... [--source cache|device]",
     L"reads the items asynchronously and prints the completion streams", 1, 66, RunAsyncRead},
    {L"async-write", L"<item ID> <value>",
     L"writes the text asynchronously and prints the write-complete stream", 2, 2, RunAsyncWrite},
    {L"async-refresh", L"<item ID>... [--source cache|device]",
     L"refreshes the group's active items asynchronously and prints the completion streams", 1, 66,
     RunAsyncRefresh},
    {L"async-cancel", L"<item ID>... [--source cache|device]",
     L"queues an asynchronous read, cancels it and shows that no completion comes", 1, 66,
     RunAsyncCancel},
};

}  // namespace

CommandFamily AsyncCommands()
{
    return {kCommands, sizeof kCommands / sizeof kCommands[0]};
}
