#include "opc/server/shutdown_notice.h"

#include <objbase.h>

#include <memory>
#include <new>
#include <vector>

#include "opc/com/error_text.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "opc_da.h"

using Microsoft::WRL::ComPtr;

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// Notices sent and not yet come back from their client, over every round.
LONG g_pendingNotices = 0;

// One round of notices, shared by its calls and the main thread, which may have stopped
// waiting when a frozen client answers at last.
struct NoticeRound {
    LONG waiting = 0;
    LONG answered = 0;
    std::unique_ptr<void, HandleCloser> allBack{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // When the main thread stops waiting for this round.
    ULONGLONG deadline = 0;
};

// The round the main thread is waiting for; null between rounds. A message dispatched during
// that wait may end the server again: such a call joins this round instead of sending another.
std::shared_ptr<NoticeRound> g_roundInProgress;

// Serves the COM calls of the clients while it waits for `round`, until its deadline.
int WaitForRound(const std::shared_ptr<NoticeRound>& round)
{
    const ULONGLONG now = GetTickCount64();
    if (InterlockedCompareExchange(&round->waiting, 0, 0) != 0 && now < round->deadline) {
        HANDLE allBack = round->allBack.get();
        DWORD index = 0;
        CoWaitForMultipleHandles(0, static_cast<DWORD>(round->deadline - now), 1, &allBack,
                                 &index);
    }
    return static_cast<int>(InterlockedCompareExchange(&round->answered, 0, 0));
}

// Marks `round` as the one in progress for as long as it is waited for.
class RoundInProgress {
public:
    explicit RoundInProgress(std::shared_ptr<NoticeRound> round)
    {
        g_roundInProgress = std::move(round);
    }
    ~RoundInProgress() { g_roundInProgress.reset(); }
    RoundInProgress(const RoundInProgress&) = delete;
    RoundInProgress& operator=(const RoundInProgress&) = delete;
};

// The notice to one sink. Made, or dropped unmade (the sink let go first), it counts as back.
class ShutdownCall final : public SinkCall {
public:
    ShutdownCall(const wchar_t* reason, std::shared_ptr<NoticeRound> round)
        : m_reason(reason), m_round(std::move(round))
    {
        InterlockedIncrement(&m_round->waiting);
        InterlockedIncrement(&g_pendingNotices);
    }
    ~ShutdownCall() override
    {
        InterlockedDecrement(&g_pendingNotices);
        if (InterlockedDecrement(&m_round->waiting) == 0) SetEvent(m_round->allBack.get());
    }

    HRESULT MakeOn(IUnknown& sink, bool& told) override
    {
        told = true;
        ComPtr<IOPCShutdown> shutdown;
        HRESULT hr = sink.QueryInterface(IID_PPV_ARGS(&shutdown));
        if (SUCCEEDED(hr)) hr = shutdown->ShutdownRequest(m_reason);
        if (SUCCEEDED(hr)) InterlockedIncrement(&m_round->answered);
        return hr;
    }
    bool Coalesces() const override { return false; }
    bool Absorb(SinkCall&, bool) override { return false; }
    size_t Bytes() const override { return sizeof *this; }

private:
    const wchar_t* m_reason;
    std::shared_ptr<NoticeRound> m_round;
};

}  // namespace

ShutdownConnection::ShutdownConnection(IUnknown& server, std::shared_ptr<ClientDelivery> delivery)
    : m_point(server, IID_IOPCShutdown, *this), m_sink(std::move(delivery))
{
}

bool ShutdownNoticePending()
{
    return InterlockedCompareExchange(&g_pendingNotices, 0, 0) != 0;
}

const wchar_t* ShutdownReason(LCID locale, ShutdownCause cause)
{
    const bool chinese = locale == kChineseLocale;
    if (cause == ShutdownCause::SessionEnding) {
        return chinese ? L"Windows 正在结束会话，OPC 服务器正在关闭。"
                       : L"Windows is ending the session: the OPC server is shutting down.";
    }
    return chinese ? L"OPC 服务器正在关闭。" : L"The OPC server is shutting down.";
}

int NotifyClientsOfShutdown(DWORD waitMs, ShutdownCause cause)
{
    // Held here: the outer call lets go of it when its own wait ends.
    if (const std::shared_ptr<NoticeRound> joined = g_roundInProgress) return WaitForRound(joined);
    std::shared_ptr<NoticeRound> round;
    try {
        round = std::make_shared<NoticeRound>();
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!round->allBack) return 0;
    round->deadline = GetTickCount64() + waitMs;
    const RoundInProgress inProgress(round);
    // The notices of other apartments are queued first; the sinks of this apartment are taken,
    // each with a reference of its own, before any is called: a client called back may release
    // its server object or unadvise while the others wait.
    struct Direct {
        ComPtr<IUnknown> sink;
        const wchar_t* reason;
    };
    std::vector<Direct> direct;
    std::vector<ServerObject*> servers;
    try {
        servers = ListServers();
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (ServerObject* server : servers) {
        const ShutdownConnection* connection = server->Shutdown();
        if (!connection || !connection->Sink().Connected()) continue;
        const wchar_t* reason = ShutdownReason(server->LocaleId(), cause);
        if (IUnknown* sink = connection->Sink().Direct()) {
            try {
                direct.push_back({sink, reason});
            } catch (const std::bad_alloc&) {
                // That sink goes without its notice.
            }
            continue;
        }
        std::unique_ptr<SinkCall> call(new (std::nothrow) ShutdownCall(reason, round));
        if (call) connection->Sink().Send(std::move(call));
    }
    for (Direct& notice : direct) {
        bool told = false;
        ShutdownCall(notice.reason, round).MakeOn(*notice.sink.Get(), told);
    }
    return WaitForRound(round);
}
