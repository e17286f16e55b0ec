#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

#include "opc/com/connection_point.h"
#include "opc/datachange/client_delivery.h"
#include "opc_da.h"

// How long the shutdown notice waits, in all, for the clients to take it.
constexpr DWORD kShutdownNoticeWaitMs = 3000;

// A server object's IOPCShutdown connection point with the sink connected to it; a sink in
// another apartment is reached through the client's delivery, like every other sink of it.
class ShutdownConnection final : public SinkHolder {
public:
    ShutdownConnection(IUnknown& server, std::shared_ptr<ClientDelivery> delivery);

    ConnectionPoint& Point() { return m_point; }
    const ClientSink& Sink() const { return m_sink; }

private:
    HRESULT TakeSink(Microsoft::WRL::ComPtr<IUnknown> sink) override
    {
        return m_sink.Connect(IID_IOPCShutdown, std::move(sink));
    }
    void DropSink() override { m_sink.Disconnect(); }
    bool SinkGone() const override { return m_sink.Gone(); }
    Microsoft::WRL::ComPtr<IUnknown> ListedSink() const override { return m_sink.Direct(); }

    ConnectionPoint m_point;
    ClientSink m_sink;
};

// Why the server ends: closed by its user (tray Exit, WM_CLOSE), or because Windows ends the
// session (logoff, shutdown).
enum class ShutdownCause { ServerClosed, SessionEnding };

// Sends IOPCShutdown::ShutdownRequest to the connected sink of every server object in the
// server table, with a reason in the object's locale, before the server ends. A sink in another
// apartment gets it through its client's delivery thread, after the calls already waiting
// there, so that a frozen client holds up no other; meanwhile the main thread serves the calls
// the clients make from their notice (Unadvise, Release) and waits at most `waitMs` in all,
// then goes on and leaves a frozen client's notice behind. A sink in this apartment is called
// directly. A call made while another is waiting (from a message dispatched during that wait:
// a second WM_CLOSE, WM_ENDSESSION) sends nothing: it waits for the notice already sent, until
// the same deadline. Returns how many sinks answered.
int NotifyClientsOfShutdown(DWORD waitMs = kShutdownNoticeWaitMs,
                            ShutdownCause cause = ShutdownCause::ServerClosed);

// True while a notice has not yet come back from its client (a frozen client).
bool ShutdownNoticePending();

// The reason the notice gives in `locale`: Chinese for the Chinese locale, English otherwise.
const wchar_t* ShutdownReason(LCID locale, ShutdownCause cause = ShutdownCause::ServerClosed);
