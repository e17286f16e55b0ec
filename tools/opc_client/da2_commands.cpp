// The OPC DA 2.0 commands: watch2 subscribes through a group's connection point and prints
// every data change; read2, write2, refresh2 and cancel2 use IOPCAsyncIO2 and wait for their
// callback; properties lists an item's properties; locales shows the server's locales;
// await-shutdown waits for the server's shutdown notice.
#include <string>
#include <vector>

#include "callback_group.h"
#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "message_pump.h"
#include "option_arguments.h"
#include "point_connection.h"
#include "shutdown_listener.h"
#include "task_block.h"
#include "value_text.h"

namespace {

constexpr DWORD kDefaultSeconds = 10;
constexpr DWORD kRateMs = 1000;
constexpr DWORD kCompletionWaitMs = 10000;

// The client's own transaction IDs, which the server echoes in its callbacks.
DWORD NextTransaction()
{
    static DWORD last = 1000;
    return ++last;
}

HRESULT AwaitCallback(const CallbackGroup& group, const wchar_t* request, DWORD transaction,
                      DWORD cancelId)
{
    PrintLine(std::wstring(request) + L" queued: transaction " + std::to_wstring(transaction) +
              L", cancel ID " + std::to_wstring(cancelId));
    if (!group.WaitForTransaction(transaction, kCompletionWaitMs)) return RPC_E_TIMEOUT;
    return S_OK;
}

HRESULT RunWatch2(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    DWORD seconds = kDefaultSeconds, callbacks = 0, rate = kRateMs;
    if (!ParseOptionArguments(arguments, {L"seconds", L"callbacks", L"rate"}, parsed) ||
        parsed.words.empty() || !parsed.NumberOption(L"seconds", seconds) ||
        !parsed.NumberOption(L"callbacks", callbacks) || !parsed.NumberOption(L"rate", rate)) {
        return E_INVALIDARG;
    }
    CallbackGroup group;
    const HRESULT hr = group.Create(session, parsed.words, rate);
    if (FAILED(hr)) return hr;
    PrintLine(L"watching through the connection point" +
              (callbacks ? L" for " + std::to_wstring(callbacks) + L" data change(s)," : L"") +
              L" at most " + std::to_wstring(seconds) + L" s");
    const PrintingCallback& callback = group.Callback();
    PumpUntil([&] { return callbacks && callback.DataChanges() >= callbacks; }, seconds * 1000);
    PrintLine(L"watched " + std::to_wstring(callback.DataChanges()) +
              L" data change(s); disconnected");
    return S_OK;
}

// Queues a read of the command's items through IOPCAsyncIO2.
HRESULT QueueRead2(ClientSession& session, const CommandArguments& arguments, CallbackGroup& group,
                   DWORD& transaction, DWORD& cancelId)
{
    HRESULT hr = group.Create(session, arguments, kRateMs);
    if (FAILED(hr)) return hr;
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    transaction = NextTransaction();
    HRESULT* rawErrors = nullptr;
    // IOPCAsyncIO2 always reads from the device; a refresh reads the cache.
    hr = group.Io()->Read(static_cast<DWORD>(handles.size()), handles.data(), transaction,
                          &cancelId, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    const HRESULT items = session.CheckItemErrors(arguments, errors.get());
    return FAILED(hr) ? hr : items;
}

HRESULT RunRead2(ClientSession& session, const CommandArguments& arguments)
{
    CallbackGroup group;
    DWORD transaction = 0, cancelId = 0;
    const HRESULT hr = QueueRead2(session, arguments, group, transaction, cancelId);
    if (FAILED(hr)) return hr;
    return AwaitCallback(group, L"read", transaction, cancelId);
}

HRESULT RunCancel2(ClientSession& session, const CommandArguments& arguments)
{
    CallbackGroup group;
    DWORD transaction = 0, cancelId = 0;
    HRESULT hr = QueueRead2(session, arguments, group, transaction, cancelId);
    if (FAILED(hr)) return hr;
    hr = group.Io()->Cancel2(cancelId);
    PrintLine(L"read queued as transaction " + std::to_wstring(transaction) + L", cancel: " +
              session.ErrorText(hr));
    // A read already completed cannot be cancelled: its completion comes instead.
    if (!group.WaitForTransaction(transaction, kCompletionWaitMs)) return RPC_E_TIMEOUT;
    return S_OK;
}

HRESULT RunRefresh2(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    OPCDATASOURCE source = OPC_DS_CACHE;
    if (!ParseOptionArguments(arguments, {L"source"}, parsed) || parsed.words.empty() ||
        !ParseSource(parsed, source)) {
        return E_INVALIDARG;
    }
    CallbackGroup group;
    HRESULT hr = group.Create(session, parsed.words, kRateMs);
    const DWORD transaction = NextTransaction();
    DWORD cancelId = 0;
    if (SUCCEEDED(hr)) hr = group.Io()->Refresh2(source, transaction, &cancelId);
    if (FAILED(hr)) return hr;
    return AwaitCallback(group, L"refresh", transaction, cancelId);
}

HRESULT RunWrite2(ClientSession& session, const CommandArguments& arguments)
{
    if (arguments.size() != 2) return E_INVALIDARG;
    // Sent as text: the server converts it to the item's type.
    TextValue text(arguments[1]);
    if (!text.Made()) return E_OUTOFMEMORY;
    VARIANT& value = text.Value();

    CallbackGroup group;
    HRESULT hr = group.Create(session, {arguments[0]}, kRateMs);
    if (FAILED(hr)) return hr;
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    const DWORD transaction = NextTransaction();
    DWORD cancelId = 0;
    HRESULT* rawErrors = nullptr;
    hr = group.Io()->Write(1, handles.data(), &value, transaction, &cancelId, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    const HRESULT items = session.CheckItemErrors({arguments[0]}, errors.get());
    if (FAILED(hr)) return hr;
    if (FAILED(items)) return items;
    return AwaitCallback(group, L"write", transaction, cancelId);
}

HRESULT RunProperties(ClientSession& session, const CommandArguments& arguments)
{
    Microsoft::WRL::ComPtr<IOPCItemProperties> properties;
    HRESULT hr = session.Server()->QueryInterface(IID_PPV_ARGS(&properties));
    if (FAILED(hr)) return hr;
    LPWSTR itemId = const_cast<LPWSTR>(arguments[0].c_str());
    DWORD count = 0;
    DWORD* rawIds = nullptr;
    LPWSTR* rawDescriptions = nullptr;
    VARTYPE* rawTypes = nullptr;
    hr = properties->QueryAvailableProperties(itemId, &count, &rawIds, &rawDescriptions, &rawTypes);
    TaskBlock<DWORD> ids(rawIds);
    TaskBlock<LPWSTR> descriptions(rawDescriptions);
    TaskBlock<VARTYPE> types(rawTypes);
    std::vector<TaskBlock<wchar_t>> descriptionTexts;
    for (DWORD i = 0; rawDescriptions && i < count; ++i) {
        descriptionTexts.emplace_back(rawDescriptions[i]);
    }
    if (FAILED(hr)) return hr;
    VARIANT* rawValues = nullptr;
    HRESULT* rawErrors = nullptr;
    hr = properties->GetItemProperties(itemId, count, ids.get(), &rawValues, &rawErrors);
    TaskBlock<VARIANT> values(rawValues);
    TaskBlock<HRESULT> errors(rawErrors);
    if (FAILED(hr)) return hr;
    PrintLine(arguments[0] + L": " + std::to_wstring(count) + L" properties");
    for (DWORD i = 0; i < count; ++i) {
        const std::wstring value = SUCCEEDED(errors.get()[i]) ? ValueText(values.get()[i])
                                                              : session.ErrorText(errors.get()[i]);
        PrintLine(L"  " + std::to_wstring(ids.get()[i]) + L" " +
                  (descriptions.get()[i] ? descriptions.get()[i] : L"") + L" (" +
                  TypeName(types.get()[i]) + L"): " + value);
        VariantClear(&values.get()[i]);
    }
    return S_OK;
}

HRESULT RunLocales(ClientSession& session, const CommandArguments&)
{
    Microsoft::WRL::ComPtr<IOPCCommon> common;
    HRESULT hr = session.Server()->QueryInterface(IID_PPV_ARGS(&common));
    DWORD count = 0;
    LCID* rawLocales = nullptr;
    if (SUCCEEDED(hr)) hr = common->QueryAvailableLocaleIDs(&count, &rawLocales);
    TaskBlock<LCID> locales(rawLocales);
    LCID current = 0;
    if (SUCCEEDED(hr)) hr = common->GetLocaleID(&current);
    if (FAILED(hr)) return hr;
    std::wstring line = L"locales:";
    for (DWORD i = 0; i < count; ++i) line += L" " + HexText(locales.get()[i], 4);
    PrintLine(line);
    PrintLine(L"current locale: " + HexText(current, 4));
    return S_OK;
}

HRESULT RunAwaitShutdown(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    DWORD seconds = kDefaultSeconds;
    if (!ParseOptionArguments(arguments, {L"seconds"}, parsed) || !parsed.words.empty() ||
        !parsed.NumberOption(L"seconds", seconds)) {
        return E_INVALIDARG;
    }
    const Microsoft::WRL::ComPtr<ShutdownListener> listener = ShutdownListener::Create();
    PointConnection connection;
    const HRESULT hr = connection.Connect(session.Server(), IID_IOPCShutdown, listener.Get());
    if (FAILED(hr)) return hr;
    PrintLine(L"waiting at most " + std::to_wstring(seconds) + L" s for a shutdown notice");
    if (!PumpUntil([&] { return listener->Notified(); }, seconds * 1000)) {
        PrintLine(L"no shutdown notice came");
    }
    return S_OK;
}

const Command kCommands[] = {
    {L"watch2", L"<item ID>... [--rate MS] [--seconds N] [--callbacks N]",
     L"subscribe through the group's IOPCDataCallback connection point and print every data "
     L"change (only changed items) until N data changes or N seconds (default 10 s, 1000 ms)",
     1, 64, RunWatch2},
    {L"read2", L"<item ID>...", L"reads the items with IOPCAsyncIO2 and prints OnReadComplete", 1,
     64, RunRead2},
    {L"write2", L"<item ID> <value>",
     L"writes the text with IOPCAsyncIO2 and prints OnWriteComplete", 2, 2, RunWrite2},
    {L"refresh2", L"<item ID>... [--source cache|device]",
     L"refreshes the group with IOPCAsyncIO2 and prints the refresh's OnDataChange", 1, 66,
     RunRefresh2},
    {L"cancel2", L"<item ID>...",
     L"queues an IOPCAsyncIO2 read, cancels it and prints OnCancelComplete (or the read's "
     L"completion when it came first)",
     1, 64, RunCancel2},
    {L"properties", L"<item ID>", L"lists the item's properties with their values", 1, 1,
     RunProperties},
    {L"locales", L"", L"lists the locales the server offers and the current one", 0, 0, RunLocales},
    {L"await-shutdown", L"[--seconds N]",
     L"connects an IOPCShutdown sink and waits for the server's shutdown notice (default 10 s)", 0,
     2, RunAwaitShutdown},
};

}  // namespace

CommandFamily Da2Commands()
{
    return {kCommands, sizeof kCommands / sizeof kCommands[0]};
}
