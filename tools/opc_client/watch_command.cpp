// watch: subscribes to items and prints every stream the server sends for them.
#include <string>
#include <vector>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "option_arguments.h"
#include "subscribed_group.h"

namespace {

constexpr DWORD kDefaultSeconds = 10;
constexpr DWORD kDefaultRateMs = 1000;

bool FormatKinds(const std::wstring& name, std::vector<StreamKind>& kinds)
{
    if (name == L"both") {
        kinds = {StreamKind::DataTime, StreamKind::Data};
    } else if (name == L"time") {
        kinds = {StreamKind::DataTime};
    } else if (name == L"data") {
        kinds = {StreamKind::Data};
    } else {
        return false;
    }
    // Completions of writes made in this group are shown as well.
    kinds.push_back(StreamKind::WriteComplete);
    return true;
}

HRESULT RunWatch(ClientSession& session, const CommandArguments& arguments)
{
    OptionArguments parsed;
    std::vector<StreamKind> kinds;
    DWORD seconds = kDefaultSeconds, callbacks = 0, rate = kDefaultRateMs;
    if (!ParseOptionArguments(arguments, {L"format", L"seconds", L"callbacks", L"rate"}, parsed) ||
        parsed.words.empty() || !FormatKinds(parsed.Option(L"format", L"both"), kinds) ||
        !parsed.NumberOption(L"seconds", seconds) ||
        !parsed.NumberOption(L"callbacks", callbacks) || !parsed.NumberOption(L"rate", rate)) {
        return E_INVALIDARG;
    }
    SubscribedGroup group;
    const HRESULT hr = group.Create(session, parsed.words, rate, kinds);
    if (FAILED(hr)) return hr;
    PrintLine(L"watching" +
              (callbacks ? L" for " + std::to_wstring(callbacks) + L" callback(s)," : L"") +
              L" at most " + std::to_wstring(seconds) + L" s");
    const PrintingSink& sink = group.Sink();
    PumpUntil([&] { return callbacks && sink.Callbacks() >= callbacks; }, seconds * 1000);
    PrintLine(L"watched " + std::to_wstring(sink.Callbacks()) + L" callback(s); unadvised");
    return S_OK;
}

const Command kCommands[] = {
    {L"watch", L"<item ID>... [--format both|time|data] [--rate MS] [--seconds N] [--callbacks N]",
     L"subscribe (DAdvise) and print every item of every callback until N callbacks or N "
     L"seconds (default 10 s, both formats, 1000 ms)",
     1, 64, RunWatch},
};

}  // namespace

CommandFamily WatchCommands()
{
    return {kCommands, sizeof kCommands / sizeof kCommands[0]};
}
