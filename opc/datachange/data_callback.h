#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

#include "opc/com/connection_point.h"
#include "opc/datachange/client_delivery.h"
#include "opc/datachange/sink_calls.h"

class DeliveryGroup;

// A group's IOPCDataCallback connection: its one connection point, the sink connected to it
// (reached through the client's delivery, or at once in the server's own apartment) and
// whether the update pass's data changes are enabled.
class DataCallback final : public SinkHolder {
public:
    DataCallback(DeliveryGroup& group, std::shared_ptr<ClientDelivery> delivery);
    DataCallback(const DataCallback&) = delete;
    DataCallback& operator=(const DataCallback&) = delete;

    ConnectionPoint& Point() { return m_point; }
    // A sink is connected and was not found gone.
    bool Connected() const { return m_sink.Connected(); }
    // Hands the call to the connected sink; with none connected it is dropped.
    void Deliver(std::unique_ptr<DataCallbackCall> call) { m_sink.Send(std::move(call)); }

    // IOPCAsyncIO2::SetEnable: the update pass's data changes go out only while enabled.
    bool enabled = true;

private:
    // A newly connected sink is owed every active item.
    HRESULT TakeSink(Microsoft::WRL::ComPtr<IUnknown> sink) override;
    void DropSink() override { m_sink.Disconnect(); }
    bool SinkGone() const override { return m_sink.Gone(); }
    Microsoft::WRL::ComPtr<IUnknown> ListedSink() const override { return m_sink.Direct(); }

    DeliveryGroup& m_group;
    ConnectionPoint m_point;
    ClientSink m_sink;
};
