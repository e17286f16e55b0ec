#include "opc/datachange/data_callback.h"

#include "opc/datachange/delivery_group.h"
#include "opc/datachange/group_delivery.h"
#include "opc/items/item_object.h"

DataCallback::DataCallback(DeliveryGroup& group)
    : m_group(group), m_point(group, IID_IOPCDataCallback, this)
{
}

void DataCallback::SinkConnected(IUnknown& sink)
{
    const unsigned generation = ++m_generation;
    m_group.Items().ForEach([](ItemObject& item) { item.MarkOwedToDataCallback(); });
    // Only a proxy answers IClientSecurity: the sink lives in another apartment.
    Microsoft::WRL::ComPtr<IClientSecurity> proxy;
    if (FAILED(sink.QueryInterface(IID_PPV_ARGS(&proxy)))) return;
    // Marshalling the proxy may call the client, which may unadvise (and advise again)
    // meanwhile: the marshalled sink is used only if it is still the one connected.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&m_group);
    const Microsoft::WRL::ComPtr<IStream> marshalled =
        GroupDelivery::Marshal(IID_IOPCDataCallback, &sink);
    if (!marshalled) return;
    GroupDelivery* delivery = generation == m_generation ? m_group.StartDelivery() : nullptr;
    if (!delivery) {
        CoReleaseMarshalData(marshalled.Get());
        return;
    }
    m_delivered = delivery->Connect(kDataCallbackConnection, marshalled);
}

void DataCallback::SinkDisconnected()
{
    ++m_generation;
    if (m_delivered) m_group.Delivery()->Disconnect(kDataCallbackConnection);
    m_delivered = false;
}

void DataCallback::Deliver(std::unique_ptr<DataCallbackCall> call)
{
    if (m_delivered) {
        m_group.Delivery()->Send(kDataCallbackConnection, std::move(call));
        return;
    }
    // Held for the call: the client may unadvise or let go of everything from within it.
    const Microsoft::WRL::ComPtr<IOPCDataCallback> sink = m_point.ConnectedSink<IOPCDataCallback>();
    if (sink) call->Make(*sink.Get());
}
