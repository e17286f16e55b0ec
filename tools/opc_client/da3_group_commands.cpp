// The OPC DA 3.0 commands: watch-keepalive subscribes through a group's connection point with
// a keep-alive time and prints every callback with its arrival time, so that keep-alives show
// on a quiet group and data changes otherwise; read-maxage and write-vqt use IOPCSyncIO2.
#include <iterator>
#include <string>
#include <vector>

#include "callback_group.h"
#include "client_group.h"
#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "message_pump.h"
#include "option_arguments.h"
#include "task_block.h"
#include "value_text.h"

namespace {

constexpr DWORD kDefaultSeconds = 10;
constexpr DWORD kDefaultRateMs = 1000;
constexpr DWORD kDefaultKeepAliveMs = 2000;
constexpr DWORD kDefaultMaxAgeMs = 1000;

HRESULT RunWatchKeepAlive(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    DWORD seconds = kDefaultSeconds, callbacks = 0, rate = kDefaultRateMs;
    DWORD keepAlive = kDefaultKeepAliveMs;
    if (!ParseOptionArguments(arguments, {L"seconds", L"callbacks", L"rate", L"keepalive"},
                              parsed) ||
        parsed.words.empty() || !parsed.NumberOption(L"seconds", seconds) ||
        !parsed.NumberOption(L"callbacks", callbacks) || !parsed.NumberOption(L"rate", rate) ||
        !parsed.NumberOption(L"keepalive", keepAlive)) {
        return E_INVALIDARG;
    }
    CallbackGroup group;
    HRESULT hr = group.Create(session, parsed.words, rate);
    Microsoft::WRL::ComPtr<IOPCGroupStateMgt2> state;
    if (SUCCEEDED(hr)) hr = group.Io()->QueryInterface(IID_PPV_ARGS(&state));
    DWORD revised = 0;
    if (SUCCEEDED(hr)) hr = state->SetKeepAlive(keepAlive, &revised);
    if (FAILED(hr)) return hr;
    PrintLine(L"keep-alive " + std::to_wstring(revised) + L" ms (" + session.ErrorText(hr) +
              L"); watching at most " + std::to_wstring(seconds) + L" s");
    PrintingCallback& callback = group.Callback();
    callback.StampArrivals();
    PumpUntil([&] { return callbacks && callback.DataChanges() >= callbacks; }, seconds * 1000);
    PrintLine(L"watched " + std::to_wstring(callback.DataChanges() - callback.KeepAlives()) +
              L" data change(s) and " + std::to_wstring(callback.KeepAlives()) +
              L" keep-alive(s); disconnected");
    return S_OK;
}

// The command's group with its items, and IOPCSyncIO2 on it.
HRESULT SyncIO2Group(ClientSession& session, const std::vector<std::wstring>& itemIds,
                     ClientGroup& group, Microsoft::WRL::ComPtr<IOPCSyncIO2>& io)
{
    const HRESULT hr = group.CreateWithItems(session, itemIds, kDefaultRateMs);
    if (FAILED(hr)) return hr;
    return group.Io()->QueryInterface(IID_PPV_ARGS(&io));
}

HRESULT RunReadMaxAge(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    DWORD maxAge = kDefaultMaxAgeMs;
    if (!ParseOptionArguments(arguments, {L"maxage"}, parsed) || parsed.words.empty() ||
        !parsed.MaxAgeOption(maxAge)) {
        return E_INVALIDARG;
    }
    ClientGroup group;
    Microsoft::WRL::ComPtr<IOPCSyncIO2> io;
    HRESULT hr = SyncIO2Group(session, parsed.words, group, io);
    if (FAILED(hr)) return hr;
    std::vector<OPCHANDLE> handles = group.ServerHandles();
    std::vector<DWORD> maxAges(handles.size(), maxAge);
    MaxAgeReadResults read(handles.size());
    hr = io->ReadMaxAge(static_cast<DWORD>(handles.size()), handles.data(), maxAges.data(),
                        &read.values, &read.qualities, &read.times, &read.errors);
    if (FAILED(hr)) return hr;
    HRESULT result = S_OK;
    for (size_t i = 0; i < handles.size(); ++i) {
        std::wstring line = parsed.words[i] + L" = " + ValueText(read.values[i]) + L"  quality " +
                            QualityText(read.qualities[i]) + L"  " + TimeText(read.times[i]);
        if (FAILED(read.errors[i])) {
            line += L"  error " + session.ErrorText(read.errors[i]);
            if (SUCCEEDED(result)) result = read.errors[i];
        }
        PrintLine(line);
    }
    return result;
}

HRESULT RunWriteVqt(ClientSession& session, const CommandArguments& arguments)
{
    // Sent as text, with neither quality nor timestamp: the server converts it to the
    // item's type.
    TextValue text(arguments[1]);
    if (!text.Made()) return E_OUTOFMEMORY;
    ClientGroup group;
    Microsoft::WRL::ComPtr<IOPCSyncIO2> io;
    HRESULT hr = SyncIO2Group(session, {arguments[0]}, group, io);
    if (FAILED(hr)) return hr;
    OPCHANDLE handle = group.ServerHandles()[0];
    OPCITEMVQT vqt = {};
    vqt.vDataValue = text.Value();  // a view: the TextValue frees it
    HRESULT* rawErrors = nullptr;
    hr = io->WriteVQT(1, &handle, &vqt, &rawErrors);
    TaskBlock<HRESULT> errors(rawErrors);
    if (FAILED(hr)) return hr;
    if (FAILED(errors.get()[0])) return errors.get()[0];
    // A write answered S_OK reaches the Viewer even when the group goes at once.
    PrintLine(L"wrote " + arguments[1] + L" to " + arguments[0] +
              L"; the server's next update pass takes it to the Viewer");
    return S_OK;
}

const Command kCommands[] = {
    {L"watch-keepalive", L"<item ID>... [--keepalive MS] [--rate MS] [--seconds N] [--callbacks N]",
     L"subscribe through the connection point with a keep-alive time (default 2000 ms) and print "
     L"every callback with its local arrival time: keep-alives (0 items) while nothing changes",
     1, 72, RunWatchKeepAlive},
    {L"read-maxage", L"<item ID>... [--maxage MS|any]",
     L"reads the items with IOPCSyncIO2::ReadMaxAge (default 1000 ms): the server's value when "
     L"that young, else the tag's now",
     1, 66, RunReadMaxAge},
    {L"write-vqt", L"<item ID> <value>",
     L"writes the text as a value alone with IOPCSyncIO2::WriteVQT", 2, 2, RunWriteVqt},
};

}  // namespace

CommandFamily Da3GroupCommands()
{
    return {kCommands, std::size(kCommands)};
}
